// The packer's byte formats through their own headers: UTF-8 texts read
// into UTF-16, a resource section read back as a loader walks it (directory
// tree, data entries, data), and the icon the packer carries. Pure code.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "packer/icon.h"
#include "packer/little_endian.h"
#include "packer/resource_section.h"
#include "packer/utf16.h"

namespace {

using namespace quorin::packer;

void check(const std::string& utf8, const std::optional<std::u16string>& expected) {
  EXPECT_EQ(utf8_to_utf16(utf8), expected) << "input of " << utf8.size() << " bytes";
}

TEST(Utf8ToUtf16, ValidSequencesOfOneToFourBytes) {
  check("", u"");
  check("A~", u"A~");
  check("\xC2\x80\xDF\xBF", u"\u0080\u07FF");
  check("\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF", u"\u0800\u20AC\uFFFF");
  check("\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000");  // either side of the surrogates
  check("\xF0\x90\x80\x80", u"\U00010000");
  check("\xF4\x8F\xBF\xBF", u"\U0010FFFF");
}

TEST(Utf8ToUtf16, RefusesWhatIsNotUtf8) {
  check("\xC0\x80", std::nullopt);              // overlong: U+0000 in two bytes
  check("\xC1\xBF", std::nullopt);              // overlong: U+007F
  check("\xE0\x9F\xBF", std::nullopt);          // overlong: U+07FF in three bytes
  check("\xF0\x8F\xBF\xBF", std::nullopt);      // overlong: U+FFFF in four bytes
  check("\xED\xA0\x80", std::nullopt);          // U+D800, a surrogate
  check("\xED\xBF\xBF", std::nullopt);          // U+DFFF
  check("\xF4\x90\x80\x80", std::nullopt);      // past U+10FFFF
  check("\xC3", std::nullopt);                  // cut short
  check("a\xE2\x82", std::nullopt);
  check("\xF0\x9F\x98", std::nullopt);
  check("\x80", std::nullopt);                  // a continuation byte first
  check("\xC3\x41", std::nullopt);              // a lead byte without its continuation
  for (int lead = 0xF5; lead <= 0xFF; ++lead) check(std::string(1, static_cast<char>(lead)) + "\x80\x80\x80", std::nullopt);
}

std::uint32_t u32(const std::string& bytes, std::size_t at) { return read_le(bytes, at, 4); }

// The (id, offset) entries of the directory at `at`, which has no named ones.
std::vector<std::pair<std::uint32_t, std::uint32_t>> directory(const std::string& section, std::size_t at) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
  if (at + 16 > section.size()) return entries;
  EXPECT_EQ(read_le(section, at + 12, 2), 0u) << "named entries";
  const std::size_t count = read_le(section, at + 14, 2);
  EXPECT_LE(at + 16 + 8 * count, section.size());
  for (std::size_t i = 0; i < count && at + 16 + 8 * (i + 1) <= section.size(); ++i) {
    entries.push_back({u32(section, at + 16 + 8 * i), u32(section, at + 16 + 8 * i + 4)});
  }
  return entries;
}

TEST(ResourceSection, ReadsBackAsTypesIdsLanguagesAndData) {
  constexpr std::uint32_t kRva = 0x5000, kSubdirectory = 0x80000000u;
  const std::vector<Resource> resources = {{kResourceTypeManifest, 1, kLanguageNeutral, "<assembly/>"},
                                           {kResourceTypeIcon, 2, kLanguageNeutral, "xyz"},
                                           {kResourceTypeIcon, 1, kLanguageNeutral, "icon one"}};
  const std::string section = resource_section(resources, kRva);
  // One row per leaf, in the order the tree keeps: by type, then id.
  const struct { std::uint32_t type, id; std::string data; } leaves[] = {
      {kResourceTypeIcon, 1, "icon one"}, {kResourceTypeIcon, 2, "xyz"}, {kResourceTypeManifest, 1, "<assembly/>"}};
  std::size_t leaf = 0;
  const auto types = directory(section, 0);
  ASSERT_EQ(types.size(), 2u);
  for (const auto& [type, type_at] : types) {
    ASSERT_TRUE(type_at & kSubdirectory);
    for (const auto& [id, id_at] : directory(section, type_at & ~kSubdirectory)) {
      ASSERT_TRUE(id_at & kSubdirectory);
      const auto languages = directory(section, id_at & ~kSubdirectory);
      ASSERT_EQ(languages.size(), 1u);
      EXPECT_EQ(languages[0].first, kLanguageNeutral);
      const std::uint32_t entry = languages[0].second;
      ASSERT_FALSE(entry & kSubdirectory);
      ASSERT_LE(entry + 16u, section.size());
      const std::uint32_t data_rva = u32(section, entry), size = u32(section, entry + 4);
      ASSERT_LT(leaf, std::size(leaves));
      EXPECT_EQ(type, leaves[leaf].type);
      EXPECT_EQ(id, leaves[leaf].id);
      EXPECT_EQ(data_rva % 4, 0u);
      ASSERT_GE(data_rva, kRva);
      ASSERT_LE(data_rva - kRva + std::uint64_t{size}, section.size());
      EXPECT_EQ(section.substr(data_rva - kRva, size), leaves[leaf].data);
      ++leaf;
    }
  }
  EXPECT_EQ(leaf, std::size(leaves));
}

// Ten 32-bpp images, bitmaps below 48 pixels and PNG files from 48 up, as
// every launcher without --icon has carried them.
TEST(DefaultIcon, TenImagesFrom16To256Pixels) {
  std::vector<IconImage> images;
  const Result r = default_icon(images);
  ASSERT_TRUE(r) << r.error;
  const unsigned sizes[] = {16, 20, 24, 32, 40, 48, 64, 96, 128, 256};
  ASSERT_EQ(images.size(), std::size(sizes));
  for (std::size_t i = 0; i < images.size(); ++i) {
    EXPECT_EQ(images[i].width, sizes[i]);
    EXPECT_EQ(images[i].height, sizes[i]);
    EXPECT_EQ(images[i].bit_count, 32u);
    EXPECT_EQ(images[i].data.compare(0, 4, "\x89PNG") == 0, sizes[i] >= 48) << sizes[i];
  }
}

}  // namespace
