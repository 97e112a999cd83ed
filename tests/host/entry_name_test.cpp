// The rules for names the launcher joins to its target directory, as the
// packer and the launcher both apply them.
#include <gtest/gtest.h>

#include <string>

#include "packer/input_tree.h"
#include "payload/format.h"

namespace {

using quorin::payload::is_valid_entry_name;

bool valid(const std::u16string& name) { return is_valid_entry_name(name.data(), name.size()); }

TEST(EntryName, AcceptsRelativeBackslashPaths) {
  for (const std::u16string name : {u"app.exe", u"data\\a.txt", u"a\\b\\c\\d.bin", u".hidden", u"a.b.c",
                                    u"dir.d\\..x", u"\u00e9t\u00e9\\\u65e5\u672c.txt", u"x\\...a"}) {
    EXPECT_TRUE(valid(name)) << std::string(name.begin(), name.end());
  }
}

TEST(EntryName, RefusesNamesThatLeaveTheTargetDirectory) {
  for (const std::u16string name : {u"..", u".", u"..\\x", u"a\\..\\..\\x", u"a\\.\\x", u"a\\..", u"...",
                                    u".. ", u"a\\. \\b", u" \\x"}) {
    EXPECT_FALSE(valid(name)) << std::string(name.begin(), name.end());
  }
}

TEST(EntryName, RefusesDrivesRootsSlashesAndEmptyComponents) {
  for (const std::u16string name : {u"", u"\\x", u"C:\\x", u"C:x", u"a:b", u"a/b", u"/x", u"a\\\\b", u"a\\",
                                    u"\\\\server\\share\\x"}) {
    EXPECT_FALSE(valid(name)) << std::string(name.begin(), name.end());
  }
}

TEST(EntryName, LengthLimitIs1023Units) {
  EXPECT_TRUE(valid(std::u16string(1023, u'a')));
  EXPECT_FALSE(valid(std::u16string(1024, u'a')));
  EXPECT_EQ(quorin::packer::check_entry_name(std::u16string(1023, u'a')), "");
  EXPECT_NE(quorin::packer::check_entry_name(std::u16string(1024, u'a')), "");
}

TEST(EntryName, PackerAlsoRefusesCharactersWindowsForbids) {
  for (const std::u16string name : {u"a<b", u"a>b", u"a\"b", u"a|b", u"a?b", u"a*b", u"a\tb"}) {
    EXPECT_NE(quorin::packer::check_entry_name(name), "") << std::string(name.begin(), name.end());
  }
  EXPECT_EQ(quorin::packer::check_entry_name(u"dir\\file name (1).txt"), "");
}

TEST(EntryName, PackerRefusesWindowsDeviceNames) {
  for (const std::u16string name : {u"NUL", u"con", u"data\\aux.txt", u"COM1", u"lpt9.log", u"Prn \\x", u"nul .txt"}) {
    EXPECT_NE(quorin::packer::check_entry_name(name), "") << std::string(name.begin(), name.end());
  }
  for (const std::u16string name : {u"console.txt", u"com10", u"lpt0", u"nulls\\x", u"data\\auxiliary", u"com"}) {
    EXPECT_EQ(quorin::packer::check_entry_name(name), "") << std::string(name.begin(), name.end());
  }
}

TEST(EntryName, StoredChecksumIsNeverZero) {
  EXPECT_EQ(quorin::payload::stored_checksum(0), 1u);
  EXPECT_EQ(quorin::payload::stored_checksum(1), 1u);
  EXPECT_EQ(quorin::payload::stored_checksum(0xDEADBEEF), 0xDEADBEEFu);
}

}  // namespace
