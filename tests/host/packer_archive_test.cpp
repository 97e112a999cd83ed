// The packer's attached data read back by a reader of our own, independent of
// the launcher's: the envelope, the frame header, every entry and checksum.
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

struct ReadEntry {
  std::u16string name;
  std::uint64_t size = 0;
  std::uint32_t checksum = 0;
  std::string data;
};

struct FrameHeader {
  bool has_content_size = false;
  bool has_checksum = false;
  bool has_dictionary = false;
  bool single_segment = false;
  std::uint64_t window = 0;
};

std::uint64_t le(const std::string& bytes, std::size_t at, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

FrameHeader parse_frame_header(const std::string& frame) {
  FrameHeader header;
  EXPECT_EQ(le(frame, 0, 4), 0xFD2FB528u) << "zstd frame magic";
  const auto descriptor = static_cast<unsigned char>(frame[4]);
  header.has_content_size = (descriptor >> 6) != 0;
  header.single_segment = (descriptor >> 5) & 1;
  header.has_checksum = (descriptor >> 2) & 1;
  header.has_dictionary = (descriptor & 3) != 0;
  if (!header.single_segment) {
    const auto window_descriptor = static_cast<unsigned char>(frame[5]);
    const std::uint64_t base = std::uint64_t{1} << (10 + (window_descriptor >> 3));
    header.window = base + (base / 8) * (window_descriptor & 7);
  }
  return header;
}

std::string decompress(const std::string& frame) {
  std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
  std::string out;
  std::string buffer(1 << 17, '\0');
  ZSTD_inBuffer in = {frame.data(), frame.size(), 0};
  for (;;) {
    ZSTD_outBuffer chunk = {buffer.data(), buffer.size(), 0};
    const std::size_t r = ZSTD_decompressStream(context.get(), &chunk, &in);
    EXPECT_FALSE(ZSTD_isError(r)) << ZSTD_getErrorName(r);
    out.append(buffer.data(), chunk.pos);
    if (ZSTD_isError(r) || (r == 0 && chunk.pos < buffer.size())) break;
  }
  return out;
}

// Walks the archive; false when it does not end exactly at the end marker.
bool parse_archive(const std::string& archive, std::vector<ReadEntry>& entries) {
  std::size_t at = 0;
  for (;;) {
    ReadEntry entry;
    for (;;) {
      if (at + 2 > archive.size()) return false;
      const auto unit = static_cast<char16_t>(le(archive, at, 2));
      at += 2;
      if (unit == 0) break;
      entry.name.push_back(unit);
    }
    if (entry.name.empty()) return at == archive.size();
    if (at + 12 > archive.size()) return false;
    entry.size = le(archive, at, 8);
    entry.checksum = static_cast<std::uint32_t>(le(archive, at + 8, 4));
    at += 12;
    if (archive.size() - at < entry.size) return false;
    entry.data = archive.substr(at, entry.size);
    at += entry.size;
    entries.push_back(std::move(entry));
  }
}

std::uint32_t crc_of(const std::string& data) {
  return static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
                                          static_cast<uInt>(data.size())));
}

struct Attached {
  std::string frame;
  FrameHeader header;
  std::vector<ReadEntry> entries;
};

// Reads the envelope around the frame and the archive in it.
Attached read_attached(const std::string& bytes) {
  Attached attached;
  EXPECT_GE(bytes.size(), 16u);
  EXPECT_EQ(bytes.substr(0, 3), "QZY");
  const std::size_t frame_size = ZSTD_findFrameCompressedSize(bytes.data() + 3, bytes.size() - 3);
  EXPECT_FALSE(ZSTD_isError(frame_size));
  // The frame is followed by five 0 bytes and the length of all before it.
  EXPECT_EQ(bytes.size(), 3 + frame_size + 5 + 8);
  EXPECT_EQ(bytes.substr(3 + frame_size, 5), std::string(5, '\0'));
  EXPECT_EQ(le(bytes, bytes.size() - 8, 8), bytes.size() - 8);
  attached.frame = bytes.substr(3, frame_size);
  attached.header = parse_frame_header(attached.frame);
  EXPECT_TRUE(parse_archive(decompress(attached.frame), attached.entries)) << "the archive ends at its end marker";
  return attached;
}

std::string pattern(std::size_t size, unsigned seed) {
  std::string out(size, '\0');
  std::uint32_t x = seed;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<char>((i % 7 == 0) ? (x >> 24) : 'a' + i % 13);
  }
  return out;
}

TEST(PackerArchive, EntriesChildFirstThenEveryFileInNameOrder) {
  Scratch scratch("archive-entries");
  const fs::path in = scratch.path / "app";
  write_file(in / "zz-child.exe", program_bytes("child program"));
  write_file(in / "b.txt", "bee");
  write_file(in / "A" / "nested" / "deep.bin", pattern(200000, 3));
  write_file(in / "empty.dat", "");
  write_file(in / "\xc3\xa9t\xc3\xa9" / "\xe6\x97\xa5.txt", "non-ASCII names");
  const ProgramRun run = run_pack({"archive", "--input", in.string(), "--child", "zz-child.exe", "--output",
                                  (scratch.path / "out.bin").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "");

  const Attached attached = read_attached(read_file(scratch.path / "out.bin"));
  const std::vector<std::pair<std::u16string, std::string>> expected = {
      {u"zz-child.exe", program_bytes("child program")},
      {u"A\\nested\\deep.bin", pattern(200000, 3)},
      {u"b.txt", "bee"},
      {u"empty.dat", ""},
      {u"\u00e9t\u00e9\\\u65e5.txt", "non-ASCII names"},
  };
  ASSERT_EQ(attached.entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ReadEntry& entry = attached.entries[i];
    EXPECT_EQ(entry.name, expected[i].first) << i;
    EXPECT_EQ(entry.data, expected[i].second) << i;
    EXPECT_EQ(entry.size, expected[i].second.size()) << i;
    const std::uint32_t crc = crc_of(expected[i].second);
    EXPECT_EQ(entry.checksum, crc == 0 ? 1u : crc) << i;
  }
  // An empty file has CRC 0, which is stored as 1.
  EXPECT_EQ(attached.entries[3].checksum, 1u);
}

TEST(PackerArchive, FrameHasNoContentSizeNoChecksumAndTheSmallestWindow) {
  Scratch scratch("archive-frame");
  const fs::path in = scratch.path / "app";
  write_file(in / "app.exe", program_bytes(pattern(5000 - 328, 1)));
  const ProgramRun run = run_pack({"archive", "--input", in.string(), "--child", "app.exe", "--output",
                                  (scratch.path / "out.bin").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  const Attached attached = read_attached(read_file(scratch.path / "out.bin"));
  EXPECT_FALSE(attached.header.has_content_size);
  EXPECT_FALSE(attached.header.has_checksum);
  EXPECT_FALSE(attached.header.has_dictionary);
  EXPECT_FALSE(attached.header.single_segment);
  // 5000 data bytes, the name and fields and the end marker: 5030 bytes fit 2^13.
  EXPECT_EQ(attached.header.window, 8192u);
}

TEST(PackerArchive, WindowNeverExceeds128MiB) {
  Scratch scratch("archive-window");
  const fs::path in = scratch.path / "app";
  write_file(in / "app.exe", program_bytes());
  // A sparse file of zeros: large, yet quick to read and to compress.
  fs::create_directories(in);
  { std::ofstream(in / "zeros.bin"); }
  fs::resize_file(in / "zeros.bin", (std::uint64_t{1} << 27) + 4096);
  const ProgramRun run = run_pack({"archive", "--input", in.string(), "--child", "app.exe", "--level", "1",
                                  "--output", (scratch.path / "out.bin").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string bytes = read_file(scratch.path / "out.bin");
  const FrameHeader header = parse_frame_header(bytes.substr(3, 32));
  EXPECT_EQ(header.window, std::uint64_t{1} << 27);
  EXPECT_FALSE(header.has_content_size);
}

TEST(PackerArchive, ChildAlreadyFirstInNameOrderIsNotRepeated) {
  Scratch scratch("archive-child");
  const fs::path in = scratch.path / "app";
  write_file(in / "a.exe", program_bytes("child"));
  write_file(in / "b.dat", "data");
  write_file(in / "sub" / "a.exe", "another a.exe, in a folder");
  const ProgramRun run = run_pack({"archive", "--input", in.string(), "--child", "a.exe", "--output",
                                  (scratch.path / "out.bin").string()});
  ASSERT_EQ(run.code, 0) << run.err;
  const Attached attached = read_attached(read_file(scratch.path / "out.bin"));
  ASSERT_EQ(attached.entries.size(), 3u);
  EXPECT_EQ(attached.entries[0].name, u"a.exe");
  EXPECT_EQ(attached.entries[0].data, program_bytes("child"));
  EXPECT_EQ(attached.entries[1].name, u"b.dat");
  EXPECT_EQ(attached.entries[2].name, u"sub\\a.exe");
}

}  // namespace
