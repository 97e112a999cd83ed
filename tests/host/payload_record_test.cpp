// The target folder's record: what a launcher writes reads back the same, and
// every kind of damage makes it count as no record, so nothing is removed on
// its word. Pure code, on the host.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "packer/index_writer.h"
#include "packer/little_endian.h"
#include "payload/checksum.h"
#include "payload/index.h"
#include "payload/record.h"

namespace {

using quorin::payload::RecordFields;

const std::string kIndex =
    quorin::packer::index_bytes({{u"app.exe", 1000, 0x1234ABCD}, {u"lib\\core.dll", 7, 1}}, 5000);

const unsigned char* bytes_of(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::string record(const std::wstring& company, const std::wstring& product, const std::string& index = kIndex) {
  std::string out(quorin::payload::record_size(company.size(), product.size(), index.size()), '\0');
  quorin::payload::record_write(reinterpret_cast<unsigned char*>(out.data()), company.c_str(), company.size(),
                                product.c_str(), product.size(), bytes_of(index), index.size());
  return out;
}

bool parses(const std::string& bytes) {
  RecordFields fields;
  return quorin::payload::record_parse(bytes_of(bytes), bytes.size(), fields);
}

// The checksum written again over damaged bytes, so that the damage behind it is what is found.
void reseal(std::string& bytes) {
  bytes.resize(bytes.size() - 4);
  quorin::packer::put_le(bytes, quorin::payload::crc32_update(0, bytes_of(bytes), bytes.size()), 4);
}

TEST(PayloadRecord, RoundTrip) {
  const std::string bytes = record(L"Acme", L"My App \u00e9");
  RecordFields fields;
  ASSERT_TRUE(quorin::payload::record_parse(bytes_of(bytes), bytes.size(), fields));
  EXPECT_EQ(fields.digest, quorin::payload::build_digest(bytes_of(kIndex), kIndex.size()));
  EXPECT_EQ(fields.index_length, kIndex.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(fields.index), fields.index_length), kIndex);
  EXPECT_TRUE(quorin::payload::record_names_product(fields, L"Acme", 4, L"My App \u00e9", 8));
  EXPECT_FALSE(quorin::payload::record_names_product(fields, L"Acme", 4, L"My App e", 8));
  EXPECT_FALSE(quorin::payload::record_names_product(fields, L"acme", 4, L"My App \u00e9", 8));
  EXPECT_FALSE(quorin::payload::record_names_product(fields, L"Acme", 4, L"My App", 6));
  // Empty texts, and texts at their longest; one unit more is no record.
  EXPECT_TRUE(parses(record(L"", L"")));
  EXPECT_TRUE(parses(record(std::wstring(1023, L'c'), std::wstring(1023, L'p'))));
  EXPECT_EQ(quorin::payload::record_size(1024, 1, kIndex.size()), 0u);
  EXPECT_EQ(quorin::payload::record_size(1, 1024, kIndex.size()), 0u);
  // The same inputs give the same bytes: a second start compares them.
  EXPECT_EQ(record(L"Acme", L"App"), record(L"Acme", L"App"));
}

TEST(PayloadRecord, DamageMakesNoRecord) {
  const std::string sound = record(L"Acme", L"App");
  ASSERT_TRUE(parses(sound));
  const std::size_t index_at = 4 + 4 + 4 + 2 + 2 * 4 + 2 + 2 * 3 + 8;
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"empty", [](std::string& b) { b.clear(); }},
      {"cut short", [](std::string& b) { b.resize(b.size() - 1); }},
      {"one more byte", [](std::string& b) { b.push_back('\0'); }},
      {"a flipped bit", [](std::string& b) { b[b.size() / 2] ^= 0x10; }},
      {"magic", [](std::string& b) { b[0] = 'X'; reseal(b); }},
      {"version", [](std::string& b) { b[4] = 2; reseal(b); }},
      {"digest", [](std::string& b) { b[8] ^= 1; reseal(b); }},
      {"company length past the end", [](std::string& b) { b[12] = static_cast<char>(0xE8); b[13] = 3; reseal(b); }},
      {"company of 1024 units", [](std::string& b) { b[12] = 0; b[13] = 4; reseal(b); }},
      {"index length", [&](std::string& b) { b[index_at - 8] ^= 1; reseal(b); }},
      {"a damaged index", [&](std::string& b) { b[index_at + 50] ^= 1; reseal(b); }},
      {"bytes after the index", [](std::string& b) { b.insert(b.size() - 4, "x"); reseal(b); }},
  };
  for (const auto& c : cases) {
    std::string bytes = sound;
    c.damage(bytes);
    RecordFields fields;
    EXPECT_FALSE(quorin::payload::record_parse(bytes_of(bytes), bytes.size(), fields)) << c.what;
    EXPECT_EQ(fields.index, nullptr) << c.what;
  }
  // An index the launcher would not take makes no record either.
  std::string bad_index = kIndex;
  bad_index[0] = 'X';
  EXPECT_FALSE(parses(record(L"Acme", L"App", bad_index)));
}

TEST(PayloadRecord, NamesThatMayBeOneFile) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    bool one_file;
  } cases[] = {
      {L"extra.lua", L"extra.lua", true},
      {L"Data\\App.EXE", L"data\\app.exe", true},  // Windows folds letter case
      {L"extra.lua", L"extra.lub", false},
      {L"extra.lua", L"extra.lua2", false},
      {L"a-b", L"a_b", false},              // not letters: no fold
      {L"data\\x", L"data/x", false},      // separators are compared as stored
      {L"caf\u00e9", L"CAF\u00c9", true},  // a fold past ASCII is taken to be one
      {L"\u017ft", L"st", true},            // and so is one that may meet a letter
      {L"\u00e9-", L"\u00e9_", false},
      {L"\u00e9", L"1", false},
  };
  for (const auto& c : cases) {
    const std::wstring a = c.a, b = c.b;
    EXPECT_EQ(quorin::payload::names_may_be_one_file(a.c_str(), a.size(), b.c_str(), b.size()), c.one_file)
        << "case " << (&c - cases);
  }
}

TEST(PayloadRecord, UnionNamesThisBuildAndWhatIsPending) {
  const std::string later = quorin::packer::index_bytes({{u"app.exe", 1000, 0x1234ABCD}, {u"keep.txt", 3, 2}}, 7000);
  const std::string earlier =
      quorin::packer::index_bytes({{u"app.exe", 900, 5}, {u"extra.lua", 9, 6}, {u"data\\x.txt", 4, 7}}, 5000);
  const unsigned char pending[] = {0, 1, 0};
  std::string joined(quorin::payload::index_union_size(bytes_of(later), later.size(), bytes_of(earlier), earlier.size(),
                                                       pending),
                     '\0');
  ASSERT_NE(joined.size(), 0u);
  quorin::payload::index_union_write(reinterpret_cast<unsigned char*>(joined.data()), bytes_of(later), later.size(),
                                     bytes_of(earlier), earlier.size(), pending);
  // The same bytes the packer would write for these entries: a sound index.
  EXPECT_EQ(joined, quorin::packer::index_bytes(
                        {{u"app.exe", 1000, 0x1234ABCD}, {u"keep.txt", 3, 2}, {u"extra.lua", 9, 6}}, 7000));
  EXPECT_TRUE(quorin::payload::index_may_hold(bytes_of(joined), joined.size(), L"EXTRA.lua", 9));
  EXPECT_FALSE(quorin::payload::index_may_hold(bytes_of(joined), joined.size(), L"data\\x.txt", 10));
  // Its digest is no build's: a later start of this build tries again.
  EXPECT_NE(quorin::payload::build_digest(bytes_of(joined), joined.size()),
            quorin::payload::build_digest(bytes_of(later), later.size()));
  // Nothing pending: this build's index.
  const unsigned char none[] = {0, 0, 0};
  EXPECT_EQ(quorin::payload::index_union_size(bytes_of(later), later.size(), bytes_of(earlier), earlier.size(), none),
            later.size());
}

}  // namespace
