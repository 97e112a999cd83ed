// The rule for entry names, one rule for the launcher, the packer and verify;
// the clashes between names that the packer and verify refuse besides; and
// the child found among the names as Windows finds a file.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "packer/child_lookup.h"
#include "packer/input_tree.h"
#include "packer/name_clash.h"
#include "packer/utf16.h"
#include "payload/checksum.h"
#include "payload/entry_name.h"
#include "tests/common/crc_agreement.h"
#include "payload/temporary_name.h"

namespace {

using quorin::payload::NameProblem;

NameProblem problem_of(const std::u16string& name) {
  const std::wstring wide(name.begin(), name.end());
  return quorin::payload::entry_name_problem(wide.data(), wide.size());
}

// 1023 units in four components of 255.
std::u16string longest_sound_name() {
  const std::u16string component(255, u'a');
  return component + u"\\" + component + u"\\" + component + u"\\" + component;
}

std::string shown(const std::u16string& name) {
  std::string out;
  for (char16_t unit : name) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out.size() > 40 ? out.substr(0, 40) + "..." : out;
}

TEST(EntryName, EachRuleOnItsOwnCase) {
  const struct {
    std::u16string name;
    NameProblem problem;
  } cases[] = {
      // Sound names.
      {u"app.exe", NameProblem::kNone},
      {u"data\\a.txt", NameProblem::kNone},
      {u".hidden", NameProblem::kNone},
      {u"a.b.c", NameProblem::kNone},
      {u"x\\...a", NameProblem::kNone},
      {u"dir\\file name (1).txt", NameProblem::kNone},
      {u"\u00e9t\u00e9\\\u65e5\u672c.txt", NameProblem::kNone},
      {u"\U0001F600 smile.txt", NameProblem::kNone},
      {u"console.txt", NameProblem::kNone},
      {u"com10", NameProblem::kNone},
      {u"lpt0", NameProblem::kNone},
      {u"nulls\\x", NameProblem::kNone},
      {u"com", NameProblem::kNone},
      {u"CONIN", NameProblem::kNone},
      {longest_sound_name(), NameProblem::kNone},
      // Leaving the target directory, drives, roots, separators.
      {u"", NameProblem::kEmpty},
      {u"..", NameProblem::kDotComponent},
      {u".", NameProblem::kDotComponent},
      {u"..\\x", NameProblem::kDotComponent},
      {u"a\\..\\..\\x", NameProblem::kDotComponent},
      {u"a\\.\\x", NameProblem::kDotComponent},
      {u"\\x", NameProblem::kEmptyComponent},
      {u"a\\\\b", NameProblem::kEmptyComponent},
      {u"a\\", NameProblem::kEmptyComponent},
      {u"\\\\server\\share\\x", NameProblem::kEmptyComponent},
      {u"C:\\x", NameProblem::kColon},
      {u"C:x", NameProblem::kColon},
      {u"file.txt:stream", NameProblem::kColon},
      {u"a/b", NameProblem::kForwardSlash},
      // What Windows forbids or trims.
      {u"a<b", NameProblem::kForbiddenCharacter},
      {u"a>b", NameProblem::kForbiddenCharacter},
      {u"a\"b", NameProblem::kForbiddenCharacter},
      {u"a|b", NameProblem::kForbiddenCharacter},
      {u"a?b", NameProblem::kForbiddenCharacter},
      {u"a*b", NameProblem::kForbiddenCharacter},
      {u"a\tb", NameProblem::kForbiddenCharacter},
      {u"a\x01", NameProblem::kForbiddenCharacter},
      {u"...", NameProblem::kTrailingDotOrBlank},
      {u".. ", NameProblem::kTrailingDotOrBlank},
      {u"a\\. \\b", NameProblem::kTrailingDotOrBlank},
      {u" \\x", NameProblem::kTrailingDotOrBlank},
      {u"name.", NameProblem::kTrailingDotOrBlank},
      {u"dir \\x", NameProblem::kTrailingDotOrBlank},
      // Devices, in any case, with any extension, at any depth.
      {u"NUL", NameProblem::kDeviceName},
      {u"con", NameProblem::kDeviceName},
      {u"AUX", NameProblem::kDeviceName},
      {u"prn.log", NameProblem::kDeviceName},
      {u"nul.txt", NameProblem::kDeviceName},
      {u"sub\\COM1.log", NameProblem::kDeviceName},
      {u"lpt9", NameProblem::kDeviceName},
      {u"COM\u00b9", NameProblem::kDeviceName},
      {u"lpt\u00b2.x", NameProblem::kDeviceName},
      {u"com\u00b3", NameProblem::kDeviceName},
      {u"CONIN$", NameProblem::kDeviceName},
      {u"conout$.txt", NameProblem::kDeviceName},
      {u"nul .txt", NameProblem::kDeviceName},
      {u"Prn \\x", NameProblem::kTrailingDotOrBlank},
      // Lengths and surrogates.
      {std::u16string(1023, u'a'), NameProblem::kComponentTooLong},
      {std::u16string(255, u'a'), NameProblem::kNone},
      {std::u16string(256, u'a'), NameProblem::kComponentTooLong},
      {u"x\\" + std::u16string(1021, u'a'), NameProblem::kComponentTooLong},
      {std::u16string(1024, u'a'), NameProblem::kTooLong},
      {std::u16string(u"a") + char16_t(0xD83D), NameProblem::kLoneSurrogate},
      {std::u16string(1, char16_t(0xDE00)) + u"a", NameProblem::kLoneSurrogate},
      {std::u16string(2, char16_t(0xD83D)), NameProblem::kLoneSurrogate},
      // The form of the launcher's temporary files, and names near it.
      {u"~quorin-12-3.tmp", NameProblem::kTemporaryName},
      {u"sub\\~QUORIN-0-0.TMP", NameProblem::kTemporaryName},
      {u"~Quorin-99999999999999-1.Tmp\\x", NameProblem::kTemporaryName},
      {u"~quorin-12-3.tmp.txt", NameProblem::kNone},
      {u"~quorin-12.tmp", NameProblem::kNone},
      {u"~quorin--3.tmp", NameProblem::kNone},
      {u"~quorin-1-x.tmp", NameProblem::kNone},
      {u"quorin-1-2.tmp", NameProblem::kNone},
      {u"~quorin-1-2-3.tmp", NameProblem::kNone},
      // The target folder's record and lock, and names near them.
      {u"~quorin-record.bin", NameProblem::kFolderFileName},
      {u"sub\\~QUORIN-LOCK.BIN", NameProblem::kFolderFileName},
      {u"~Quorin-Record.Bin\\x", NameProblem::kFolderFileName},
      {u"~quorin-record.bin.txt", NameProblem::kNone},
      {u"~quorin-records.bin", NameProblem::kNone},
      {u"quorin-lock.bin", NameProblem::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(problem_of(c.name), c.problem) << shown(c.name);
    // The packer packs exactly what the rule allows.
    EXPECT_EQ(quorin::packer::check_entry_name(c.name).empty(), c.problem == NameProblem::kNone) << shown(c.name);
  }
}

TEST(EntryName, StoredChecksumIsNeverZero) {
  EXPECT_EQ(quorin::payload::stored_checksum(0), 1u);
  EXPECT_EQ(quorin::payload::stored_checksum(1), 1u);
  EXPECT_EQ(quorin::payload::stored_checksum(0xDEADBEEF), 0xDEADBEEFu);
  EXPECT_EQ(quorin::payload::checksum_of(nullptr, 0), 1u);
  const unsigned char check[] = "123456789";
  EXPECT_EQ(quorin::payload::checksum_of(check, 9), 0xCBF43926u);  // the CRC-32 check value
  // The fast CRC gives zlib's values everywhere.
  EXPECT_EQ(quorin::test_archive::crc_disagreement(), "");
}

TEST(TemporaryName, MadeNamesAreRefusedByTheRuleAndReadBack) {
  const struct {
    std::uint32_t process, serial;
    const wchar_t* name;
  } cases[] = {
      {1, 1, L"~quorin-1-1.tmp"},
      {0, 0, L"~quorin-0-0.tmp"},
      {4294967295u, 4294967295u, L"~quorin-4294967295-4294967295.tmp"},
  };
  for (const auto& c : cases) {
    wchar_t path[7 + quorin::payload::kTemporaryNameCap] = L"C:\\a\\b\\";
    quorin::payload::append_temporary_name(path, sizeof path / sizeof path[0], c.process, c.serial);
    EXPECT_EQ(std::wstring(path), std::wstring(L"C:\\a\\b\\") + c.name);
    const wchar_t* name = path + 7;
    EXPECT_EQ(quorin::payload::entry_name_problem(name, std::wcslen(name)), NameProblem::kTemporaryName);
    std::uint32_t process = 7;
    EXPECT_TRUE(quorin::payload::temporary_name_process(name, process));
    EXPECT_EQ(process, c.process);
  }
  // Only names this launcher could have made are its own: numbers of 32 bits;
  // the folder's record and lock are never taken for temporaries.
  std::uint32_t process = 0;
  for (const wchar_t* name : {L"~quorin-4294967296-1.tmp", L"~quorin-1-4294967296.tmp", L"~quorin-1-2.tmp.txt",
                              L"~quorin-1.tmp", L"x~quorin-1-2.tmp", quorin::payload::kRecordName,
                              quorin::payload::kLockName}) {
    EXPECT_FALSE(quorin::payload::temporary_name_process(name, process)) << quorin::packer::utf16_to_utf8(
        std::u16string(name, name + std::wcslen(name)));
  }
  EXPECT_TRUE(quorin::payload::temporary_name_process(L"~QUORIN-0012-3.TMP", process));
  EXPECT_EQ(process, 12u);
}

TEST(NameClash, SameNamesLetterCaseAndFolders) {
  using quorin::packer::ClashKind;
  const struct {
    std::vector<std::u16string> names;
    std::vector<std::pair<std::size_t, ClashKind>> clashes;  // at which name, what kind
  } cases[] = {
      {{u"app.exe", u"a\\b", u"a\\c", u"b"}, {}},
      {{u"app.exe", u"app.exe"}, {{1, ClashKind::kSame}}},
      {{u"d\\x", u"D\\X"}, {{1, ClashKind::kLetterCase}}},
      {{u"\u00e9t\u00e9.txt", u"\u00c9T\u00c9.TXT"}, {{1, ClashKind::kLetterCase}}},
      {{u"a\\b", u"a"}, {{1, ClashKind::kIsFolder}}},
      {{u"a\\b\\c", u"A\\B"}, {{1, ClashKind::kIsFolder}}},
      {{u"a", u"a\\b"}, {{1, ClashKind::kNeedsFolder}}},
      {{u"x", u"X\\y\\z"}, {{1, ClashKind::kNeedsFolder}}},
  };
  for (const auto& c : cases) {
    const std::vector<quorin::packer::NameClash> found = quorin::packer::find_name_clashes(c.names);
    ASSERT_EQ(found.size(), c.clashes.size()) << shown(c.names.back());
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].index, c.clashes[i].first);
      EXPECT_EQ(found[i].kind, c.clashes[i].second) << shown(c.names.back());
    }
  }
}

TEST(ChildLookup, FoundAsWindowsFindsAFileOrTheNameMeant) {
  const std::vector<std::u16string> names = {u"app.exe", u"bin\\sqlite3.exe", u"data.txt", u"sqlite3.exe"};
  const struct {
    std::u16string child;
    std::size_t index;     // names.size() for none
    std::u16string meant;  // when none
  } cases[] = {
      {u"app.exe", 0, u""},
      {u"bin\\sqlite3.exe", 1, u""},
      {u"SQLITE3.EXE", 3, u""},
      {u"sqlite3", 4, u"sqlite3.exe"},
      {u"sqlit3.exe", 4, u"sqlite3.exe"},
      {u"SQLite", 4, u"sqlite3.exe"},
      {u"data", 4, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quorin::packer::find_child(names, c.child), c.index) << shown(c.child);
    if (c.index == names.size()) {
      EXPECT_EQ(quorin::packer::child_meant(names, c.child), c.meant) << shown(c.child);
    }
  }
}

}  // namespace
