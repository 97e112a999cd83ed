// The packer's warnings when a build leaves its child's path little room under
// the 260 units process creation takes, and an entry's path no room in the
// launcher's 4,096-unit buffer.
#include <gtest/gtest.h>

#include <string>

#include "packer/path_room.h"

namespace {

using quorin::packer::BakedConstants;
using quorin::packer::entry_room_warning;
using quorin::packer::path_room_warning;

std::u16string spec_of(std::size_t literal_units, const std::u16string& placeholders) {
  return u"C:" + std::u16string(literal_units - 2, u'x') + placeholders;
}

TEST(PathRoom, WarnsOnlyWhenTheKnownPartLeavesLittleRoom) {
  const struct {
    std::u16string spec;
    std::string child;
    bool warns;
  } cases[] = {
      // The default kind of spec: room enough.
      {u"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}", "app.exe", false},
      // With placeholders: literal + 1 + child < 160 is fine, 160 warns.
      {spec_of(151, u"{CACHE_DIR}"), "app.exe", false},
      {spec_of(152, u"{CACHE_DIR}"), "app.exe", true},
      {spec_of(10, u"{TEMP}"), std::string(149, 'c'), true},
      // Braces that name nothing are literal text; a name never closed counts nothing.
      {spec_of(150, u"}{"), "app.exe", false},
      // No placeholders: only a path sure to reach 260 warns.
      {spec_of(251, u""), "app.exe", false},
      {spec_of(252, u""), "app.exe", true},
      // The child's name counts in UTF-16 units: an emoji is two.
      {spec_of(250, u""), "\xf0\x9f\x98\x80" "app.exe", true},
      {spec_of(250, u""), "\xc3\xa9pp.exe", false},
  };
  for (const auto& c : cases) {
    const std::string warning = path_room_warning(c.spec, c.child);
    EXPECT_EQ(!warning.empty(), c.warns) << c.spec.size() << " " << c.child << ": " << warning;
  }
}

TEST(PathRoom, WarningSaysHowLongAndWhy) {
  EXPECT_EQ(path_room_warning(spec_of(300, u""), "app.exe"),
            "the child's path will have 308 UTF-16 units (--spec's literal text and --child); a child path of 260 "
            "units or more can be started only by its short form, which not every volume has");
  EXPECT_EQ(path_room_warning(spec_of(200, u"{TEMP}\\{VERSION}"), "app.exe"),
            "the child's path will have at least 209 UTF-16 units (--spec's literal text and --child), which leaves "
            "less than 100 for its placeholders under 260; a child path of 260 units or more can be started only by "
            "its short form, which not every volume has");
}

TEST(PathRoom, WarnsWhenTheLongestEntryCannotBeJoinedToTheTargetFolder) {
  const std::u16string name(1023, u'n');  // the longest a name may be
  const struct {
    std::u16string spec;
    std::size_t least_path;  // target folder, backslash, name; 0: no warning
  } cases[] = {
      // The constants count as baked: 3060 literal units, "\\Acme\\1.0.0", a backslash and 1023 make 4095, which fits.
      {spec_of(3060, u"\\{COMPANY}\\{VERSION}"), 0},
      {spec_of(3061, u"\\{COMPANY}\\{VERSION}"), 4096},
      // Folders count a drive (2), {PID} 1, {RANDOM} 11, {TIME_US} 6, {TIME} 18.
      {u"{CACHE_DIR}" + std::u16string(3034, u'x') + u"{PID}{RANDOM}{TIME_US}{TIME}", 4096},
  };
  BakedConstants constants{u"", u"Acme", u"Acme Tool", u"1.0.0", u"3f2a9c01d4b7"};
  for (const auto& c : cases) {
    constants.spec = c.spec;
    const std::string warning = entry_room_warning(constants, name);
    const std::string expected = c.least_path == 0 ? "" : "the entry '" + std::string(1023, 'n') +
                                 "' needs a path of at least " + std::to_string(c.least_path) + " UTF-16 units";
    EXPECT_EQ(c.least_path == 0 ? warning : warning.substr(0, expected.size()), expected) << c.spec.size();
  }
}

}  // namespace
