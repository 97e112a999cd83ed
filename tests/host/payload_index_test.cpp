// The archive's index: what the packer writes, the launcher reads back, and
// every kind of damage makes the index count as none. Pure code, on the host.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "packer/index_writer.h"
#include "tests/host/packer_support.h"
#include "packer/little_endian.h"
#include "payload/checksum.h"
#include "payload/index.h"

namespace {

using quorin::packer::IndexRecord;
using quorin::payload::IndexProblem;

const std::vector<IndexRecord> kRecords = {
    {u"app.exe", 171404800, 0x1234ABCD}, {u"lib\\core.dll", 0, 1}, {u"data\\deep\\text.txt", 7, 0xFFFFFFFF}};

IndexProblem check(const std::string& bytes, quorin::payload::IndexHeader& header) {
  return quorin::payload::index_check(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), header);
}

// The checksum written again over damaged bytes, so that the damage behind it is what is found.
void reseal(std::string& bytes) {
  bytes.resize(bytes.size() - 4);
  const std::uint32_t crc =
      quorin::payload::crc32_update(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  quorin::packer::put_le(bytes, crc, 4);
}

TEST(PayloadIndex, RoundTrip) {
  const std::string bytes = quorin::packer::index_bytes(kRecords, 5000);
  quorin::payload::IndexHeader header;
  ASSERT_EQ(check(bytes, header), IndexProblem::kNone);
  EXPECT_EQ(header.entries, 3u);
  EXPECT_EQ(header.data_bytes, 171404807u);
  EXPECT_EQ(header.attached_bytes, 5000u);
  // Each entry: name and terminator, 8 + 4 bytes of fields, data; then the end marker.
  EXPECT_EQ(header.archive_bytes, (16 + 12 + 171404800u) + (26 + 12) + (38 + 12 + 7) + 2);
  std::uint64_t offset = quorin::payload::kIndexHeaderSize;
  for (const IndexRecord& record : kRecords) {
    quorin::payload::IndexEntry entry;
    offset = quorin::payload::index_read_entry(reinterpret_cast<const unsigned char*>(bytes.data()), offset, entry);
    EXPECT_EQ(std::u16string(entry.name, entry.name + entry.name_len), record.name);
    EXPECT_EQ(entry.size, record.size);
    EXPECT_EQ(entry.stored_checksum, record.stored_checksum);
  }
  EXPECT_EQ(offset, bytes.size() - 4);
  EXPECT_EQ(check(quorin::packer::index_bytes({}, 16), header), IndexProblem::kNone);
}

TEST(PayloadIndex, DamageMeansNoIndex) {
  const std::string sound = quorin::packer::index_bytes(kRecords, 5000);
  // The first entry's name length is at 40, its units ("app.exe") at 42, its size
  // at 56 and its stored checksum at 64.
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    IndexProblem expected;
  } cases[] = {
      {"cut to its header", [](std::string& b) { b.resize(43); }, IndexProblem::kTooShort},
      {"lower-case magic", [](std::string& b) { b.at(0) = 'q'; reseal(b); }, IndexProblem::kMagic},
      {"version 2", [](std::string& b) { b.at(4) = 2; reseal(b); }, IndexProblem::kVersion},
      {"a flipped bit in a name", [](std::string& b) { b.at(44) ^= 1; }, IndexProblem::kChecksum},
      {"one entry more", [](std::string& b) { b.at(8) = 4; reseal(b); }, IndexProblem::kEntryCut},
      {"a huge count", [](std::string& b) { b.at(15) = 1; reseal(b); }, IndexProblem::kEntryCut},
      {"a name leaving the folder", [](std::string& b) { b.at(42) = '.'; b.at(44) = '.'; b.at(46) = '\\'; reseal(b); },
       IndexProblem::kBadName},
      {"a name of length 0", [](std::string& b) { b.at(40) = 0; reseal(b); }, IndexProblem::kBadName},
      {"a stored checksum of 0",
       [](std::string& b) { for (int i = 64; i < 68; ++i) b.at(i) = 0; reseal(b); }, IndexProblem::kStoredZero},
      {"a byte after the last entry", [](std::string& b) { b.insert(b.size() - 4, 1, '\0'); reseal(b); },
       IndexProblem::kTrailingBytes},
      {"data bytes one more", [](std::string& b) { b.at(16) += 1; reseal(b); }, IndexProblem::kTotals},
      {"a size near 2^64", [](std::string& b) { for (int i = 56; i < 64; ++i) b.at(i) = '\xFF'; reseal(b); },
       IndexProblem::kTotals},
  };
  for (const auto& c : cases) {
    std::string bytes = sound;
    c.damage(bytes);
    quorin::payload::IndexHeader header;
    EXPECT_EQ(check(bytes, header), c.expected) << c.what;
  }
}

// verify reads the launcher's index beside its frame: a name changed inside
// the frame (raw blocks, so it stands in the launcher as it is) is the
// entry where the launcher stops; a damaged index is reported, and the
// launcher would decode as without one.
TEST(PackerIndex, VerifyComparesTheIndexWithTheFrame) {
  using namespace quorin::packer_test;
  Scratch scratch("index_verify");
  const std::string archive = archive_bytes({{u"app.exe", "MZ" + text(5000, 1), {}}, {u"lib\\core.dll", "core", {}}});
  write_file(scratch / "attached", quorin::test_archive::attached_of(
                                       quorin::test_archive::frame_of(quorin::test_archive::raw_blocks(archive))));
  ASSERT_EQ(run_pack({"build", "--attached", (scratch / "attached").string(), "-o", (scratch / "l.exe").string()}).code,
            0);
  const std::string exe = read_file(scratch / "l.exe");
  const std::string name("c\0o\0r\0e\0", 8);
  const struct {
    const char* what;
    std::size_t at;  // the byte flipped, or npos for none
    std::string expected;
  } cases[] = {
      {"sound", std::string::npos, "changed.exe: ok"},
      {"a name in the frame", exe.find(name) + 6,
       "index: entry 2 is 'lib\\core.dll' of 4 bytes, checksum 6b8d854f in the index but 'lib\\cord.dll'"},
      {"a name in the index", exe.rfind(name) + 6, "index: the index's checksum is not that of its bytes"},
  };
  for (const auto& c : cases) {
    std::string changed = exe;
    if (c.at != std::string::npos) changed.at(c.at) = static_cast<char>(changed.at(c.at) ^ 1);
    write_file(scratch / "changed.exe", changed);
    const ProgramRun verify = run_pack({"verify", (scratch / "changed.exe").string()});
    EXPECT_EQ(verify.code, c.at == std::string::npos ? 0 : 1) << c.what;
    EXPECT_NE(verify.out.find(c.expected), std::string::npos) << c.what << ": " << verify.out;
  }
}

}  // namespace
