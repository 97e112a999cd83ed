// Extraction in this process: the checksum skip (length first, empty files,
// files held open), the child program path, names that break the format's
// rules, the target path capacity, and the directory cache. Talks to the
// system (files and folders under the temporary folder).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/reader.h"
#include "payload/directory_cache.h"
#include "payload/unpack.h"
#include "template/expand.h"
#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;
using namespace quorin::payload;
namespace launcher = quorin::launcher;

constexpr char kDecodeMessage[] = "Error, couldn't decode attached data\\.";

std::wstring test_dir(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\payload-unit\\" + name; }

std::wstring child_program_path() { return launcher::g_child_program_path; }

HANDLE open_without_write_sharing(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

void expect_files(const std::wstring& target, const std::vector<ArchiveEntry>& entries) {
  for (const ArchiveEntry& entry : entries) {
    const std::wstring name(entry.name.begin(), entry.name.end());
    EXPECT_TRUE(read_file(target + L"\\" + name) == entry.data) << narrow(name);
  }
}

TEST(Extraction, SecondRunWritesNothingAndChangedFilesAreWrittenAgain) {
  const std::wstring target = test_dir(L"skip");
  remove_tree(target);
  const std::string grown = "grown";
  std::vector<ArchiveEntry> entries = {
      {u"app.exe", "the child program", {}},
      {u"empty.txt", "", {}},
      {u"same.txt", "same length", {}},
      {u"sub\\deep\\grown.txt", grown, {}},
      {u"chunks.bin", pattern(3 * 32768, 1), {}},
      {u"big.bin", pattern(300000, 2), {}},
  };
  const std::string attached = attached_archive(entries);

  unpack_into(target, attached);
  expect_files(target, entries);
  EXPECT_EQ(child_program_path(), target + L"\\app.exe");

  // An unchanged tree: nothing written, not even the empty file, which a
  // running child may hold open against writers (as it does every file here).
  set_write_times(target, kOldFileTime);
  const auto before = snapshot_tree(target);
  std::vector<HANDLE> held;
  for (const wchar_t* name : {L"empty.txt", L"same.txt", L"app.exe"}) {
    held.push_back(open_without_write_sharing(target + L"\\" + name));
    ASSERT_NE(held.back(), INVALID_HANDLE_VALUE);
  }
  unpack_into(target, attached);
  for (HANDLE handle : held) CloseHandle(handle);
  EXPECT_TRUE(snapshot_tree(target) == before);
  EXPECT_EQ(child_program_path(), target + L"\\app.exe");

  // Same length, other content; same CRC-32, other length; shorter; emptied
  // file filled; deleted file; and a file the archive does not name.
  const std::string forged = grown + forge_crc_suffix(grown, checksum_of(grown));
  ASSERT_EQ(checksum_of(forged), checksum_of(grown));
  write_file(target + L"\\same.txt", "SAME LENGTH");
  write_file(target + L"\\sub\\deep\\grown.txt", forged);
  write_file(target + L"\\chunks.bin", pattern(32768, 1));
  write_file(target + L"\\empty.txt", "x");
  DeleteFileW((target + L"\\big.bin").c_str());
  write_file(target + L"\\sub\\extra.txt", "not ours");
  unpack_into(target, attached);
  expect_files(target, entries);
  EXPECT_EQ(read_file(target + L"\\sub\\extra.txt"), "not ours");
  const auto after = snapshot_tree(target);
  EXPECT_EQ(after.at(L"app.exe").written, kOldFileTime);
  EXPECT_NE(after.at(L"sub\\deep\\grown.txt").written, kOldFileTime);
  EXPECT_NE(after.at(L"same.txt").written, kOldFileTime);
}

TEST(Extraction, EndMarkerAloneWritesNothingAndLeavesTheChildPathEmpty) {
  const std::wstring target = test_dir(L"end-marker-only");
  remove_tree(target);
  unpack_into(target, attached_archive({}));
  EXPECT_EQ(child_program_path(), L"");
  EXPECT_FALSE(directory_exists(target));
}

// 1023 units of backslash-separated components of 200 units: a valid name.
std::u16string name_of_1023_units() {
  std::u16string name;
  while (name.size() < 1023) name += (name.empty() ? u"" : u"\\") + std::u16string(200, u'L');
  name.resize(1023);
  return name;
}

const std::vector<std::u16string>& bad_names() {
  static const std::vector<std::u16string> names = {
      u".",          u"..",           u"..\\escaped.txt", u"a\\..\\..\\escaped.txt", u"a\\.\\b.txt",
      u"...",        u".. \\escaped.txt", u"a\\\\b.txt",  u"a\\",                    u"\\escaped.txt",
      u"C:\\escaped.txt", u"C:escaped.txt", u"a:stream", u"a/b.txt",                 u"../escaped.txt",
      std::u16string(1024, u'n'),    name_of_1023_units() + u"x",     name_of_1023_units() + u"xy",
      // Windows takes these for devices: their data would go to NUL, AUX, a serial port.
      u"NUL",        u"AUX",          u"COM1",            u"nul.txt",               u"sub\\COM1.log",
      u"CONIN$",     u"conout$",      u"LPT\u00b9",
      // What Windows cannot hold as written.
      u"trailing.",  u"trailing ",    u"a<b",             std::u16string(256, u'c'),
      std::u16string(u"lone") + char16_t(0xD800),
  };
  return names;
}

class BadName : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BadName, StopsWithTheDecodeMessageBeforeAnythingIsWrittenForIt) {
  const std::wstring base = test_dir(L"names\\" + std::to_wstring(GetParam()));
  remove_tree(base);
  const std::string attached = attached_archive(
      {{u"app.exe", "first", {}}, {bad_names()[GetParam()], "bad data", {}}, {u"after.txt", "after", {}}});
  EXPECT_EXIT(unpack_and_exit(base + L"\\target", attached), ::testing::ExitedWithCode(2), kDecodeMessage);
  // The entry before it is there; nothing else, inside the target or beside it.
  const std::map<std::wstring, TreeItem> left = snapshot_tree(base);
  EXPECT_EQ(left.size(), 2u);
  EXPECT_EQ(left.count(L"target\\app.exe"), 1u);
  remove_tree(base);
}

INSTANTIATE_TEST_SUITE_P(Extraction, BadName, ::testing::Range<std::size_t>(0, bad_names().size()));

TEST(Extraction, BadFirstNameLeavesEvenTheTargetDirectoryUnmade) {
  const std::wstring base = test_dir(L"names\\first");
  remove_tree(base);
  EXPECT_EXIT(unpack_and_exit(base + L"\\target", attached_archive({{u"..\\app.exe", "first", {}}})),
              ::testing::ExitedWithCode(2), kDecodeMessage);
  EXPECT_FALSE(directory_exists(base));
}

TEST(Extraction, NameOf1023UnitsIsWritten) {
  const std::u16string name = name_of_1023_units();
  const std::wstring target = test_dir(L"long-name");
  remove_tree(target);
  unpack_into(target, attached_archive({{u"app.exe", "first", {}}, {name, "deep", {}}}));
  EXPECT_EQ(read_file(target + L"\\" + std::wstring(name.begin(), name.end())), "deep");
  remove_tree(target);
}

// A drive letter this system does not have: nothing can be made there.
std::wstring absent_drive() {
  const DWORD drives = GetLogicalDrives();
  for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
    if ((drives & (1u << (letter - L'A'))) == 0) return std::wstring(1, letter) + L":";
  }
  return L"";
}

TEST(Extraction, TargetPathOf4095UnitsFitsAnd4096IsAHardStop) {
  const std::wstring drive = absent_drive();
  ASSERT_NE(drive, L"");
  std::wstring target = drive;
  while (target.size() < 3900) target += L"\\" + std::wstring(200, L'd');
  // target, a backslash and the name: 4095 units fit the 4096-unit buffer.
  const std::u16string fits(4095 - 1 - target.size(), u'n');
  EXPECT_EXIT(unpack_and_exit(target, attached_archive({{fits, "x", {}}})), ::testing::ExitedWithCode(2),
              "Error, failed to open '" + std::string(drive.begin(), drive.end()));
  EXPECT_EXIT(unpack_and_exit(target, attached_archive({{fits + u"n", "x", {}}})), ::testing::ExitedWithCode(3), "");
}

TEST(ExistingChecksum, MissingUnreadableAndFoldersGiveZero) {
  const std::wstring dir = test_dir(L"checksum");
  remove_tree(dir);
  make_folders(dir);
  EXPECT_EQ(existing_checksum((dir + L"\\missing.txt").c_str(), 0), 0u);
  EXPECT_EQ(existing_checksum(dir.c_str(), 0), 0u);
  write_file(dir + L"\\locked.txt", "abc");
  HANDLE locked = CreateFileW((dir + L"\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_EQ(existing_checksum((dir + L"\\locked.txt").c_str(), 3), 0u);
  CloseHandle(locked);
  EXPECT_EQ(existing_checksum((dir + L"\\locked.txt").c_str(), 3), checksum_of("abc"));
}

TEST(ExistingChecksum, LengthIsComparedBeforeAnyChecksumIsTaken) {
  const std::wstring dir = test_dir(L"checksum");
  make_folders(dir);
  const std::string data = pattern(70000, 9);
  const std::string same_crc = data + forge_crc_suffix(data, checksum_of(data));
  ASSERT_EQ(checksum_of(same_crc), checksum_of(data));
  write_file(dir + L"\\file.bin", same_crc);
  EXPECT_EQ(existing_checksum((dir + L"\\file.bin").c_str(), data.size()), 0u);
  EXPECT_EQ(existing_checksum((dir + L"\\file.bin").c_str(), same_crc.size()), checksum_of(data));
  EXPECT_EQ(existing_checksum((dir + L"\\file.bin").c_str(), same_crc.size() + 1), 0u);
}

TEST(ExistingChecksum, EmptyFileIsCurrentOnlyForAnEmptyEntry) {
  const std::wstring dir = test_dir(L"checksum");
  make_folders(dir);
  write_file(dir + L"\\empty.txt", "");
  EXPECT_EQ(existing_checksum((dir + L"\\empty.txt").c_str(), 0), 1u);
  EXPECT_EQ(existing_checksum((dir + L"\\empty.txt").c_str(), 1), 0u);
}

TEST(ExistingChecksum, FileOf4GiBOrMoreIsNotTakenModulo2To32) {
  const std::wstring dir = test_dir(L"checksum");
  make_folders(dir);
  const std::wstring path = dir + L"\\huge.bin";
  // 2^32 + 3 bytes, "abc" then zeros: a sparse file, so no disk space goes to
  // the zeros (NTFS needs the flag; the file systems under Wine are sparse anyway).
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &written, nullptr);
  ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  LARGE_INTEGER end;
  end.QuadPart = (1ll << 32) + 3;
  ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
  // Its low 32 bits of length say 3, and its first 3 bytes are "abc".
  EXPECT_EQ(existing_checksum(path.c_str(), 3), 0u);
  DeleteFileW(path.c_str());
}

// Runs checks in a death test's fresh process, where the cache starts empty;
// ends with 0 when all held, else names the first that did not on stderr.
#define CHECK_OR_EXIT(condition)                                        \
  do {                                                                  \
    if (!(condition)) {                                                 \
      std::fprintf(stderr, "line %d: %s\n", __LINE__, #condition);      \
      std::exit(1);                                                     \
    }                                                                   \
  } while (0)

[[noreturn]] void fill_the_cache(const std::wstring& base) {
  CHECK_OR_EXIT(directory_cache_count() == 0);
  CHECK_OR_EXIT(ensure_directory(base.c_str()));
  CHECK_OR_EXIT(directory_cache_count() == 2);  // the profile folder, then base
  // Case forms of one existing folder: each is no cache hit, and exists.
  const std::wstring name = L"abcdefghij";
  auto form = [&](unsigned mask) {
    std::wstring out = name;
    for (std::size_t i = 0; i < out.size(); ++i) {
      if (mask >> i & 1) out[i] = static_cast<wchar_t>(out[i] - L'a' + L'A');
    }
    return base + L"\\" + out;
  };
  unsigned mask = 0;
  while (directory_cache_count() < 1024) {
    const int count = directory_cache_count();
    CHECK_OR_EXIT(ensure_directory(form(mask++).c_str()));
    CHECK_OR_EXIT(directory_cache_count() == count + 1);
  }
  CHECK_OR_EXIT(std::wstring(directory_cache_entry(1023)) == form(mask - 1));
  // Full: still made and tested, no longer remembered.
  CHECK_OR_EXIT(ensure_directory(form(mask).c_str()));
  CHECK_OR_EXIT(ensure_directory((base + L"\\made-when-full").c_str()));
  CHECK_OR_EXIT(directory_exists(base + L"\\made-when-full"));
  CHECK_OR_EXIT(!ensure_directory((base + L"\\missing\\below").c_str()));
  CHECK_OR_EXIT(directory_cache_count() == 1024);
  std::exit(0);
}

TEST(DirectoryCache, HoldsAtMost1024AndStillMakesDirectoriesWhenFull) {
  const std::wstring base = test_dir(L"cache-full");
  remove_tree(base);
  make_folders(base + L"\\abcdefghij");
  EXPECT_EXIT(fill_the_cache(base), ::testing::ExitedWithCode(0), "");
  remove_tree(base);
}

TEST(DirectoryCache, SeededWithTheProfileFolderThenFilledDeepestFirst) {
  const std::wstring base = test_dir(L"cache-order");
  remove_tree(base);
  make_folders(base);
  write_file(base + L"\\file.txt", "a file");
  ASSERT_TRUE(ensure_directory(base.c_str()));
  wchar_t home[launcher::kPathCap];
  ASSERT_TRUE(quorin::expansion::expand_spec(home, L"{HOME}", launcher::kPathCap));
  EXPECT_EQ(std::wstring(directory_cache_entry(0)), home);

  // Only base exists: T\a\b fails, T\a fails, T is made, then T\a, T\a\b.
  const int start = directory_cache_count();
  EXPECT_TRUE(ensure_parent_directories((base + L"\\T\\a\\b\\file").c_str()));
  ASSERT_EQ(directory_cache_count(), start + 3);
  EXPECT_EQ(std::wstring(directory_cache_entry(start)), base + L"\\T");
  EXPECT_EQ(std::wstring(directory_cache_entry(start + 1)), base + L"\\T\\a");
  EXPECT_EQ(std::wstring(directory_cache_entry(start + 2)), base + L"\\T\\a\\b");
  EXPECT_TRUE(directory_exists(base + L"\\T\\a\\b"));

  // A cache hit: nothing more remembered.
  EXPECT_TRUE(ensure_parent_directories((base + L"\\T\\a\\b\\other").c_str()));
  EXPECT_TRUE(ensure_parent_directories((base + L"\\T\\a\\b").c_str()));
  EXPECT_EQ(directory_cache_count(), start + 3);

  // Another letter case is no hit; the folder exists, so that form is kept too.
  EXPECT_TRUE(ensure_parent_directories((base + L"\\t\\A\\file").c_str()));
  ASSERT_EQ(directory_cache_count(), start + 4);
  EXPECT_EQ(std::wstring(directory_cache_entry(start + 3)), base + L"\\t\\A");

  // Under a file nothing can be made; the climb finds the file's name taken.
  EXPECT_FALSE(ensure_directory((base + L"\\file.txt\\sub").c_str()));
  EXPECT_EQ(directory_cache_count(), start + 4);
  EXPECT_FALSE(ensure_parent_directories((base + L"\\file.txt\\sub\\f").c_str()));

  // A bare drive ends the climb, untested and not remembered.
  const int before_drive = directory_cache_count();
  EXPECT_TRUE(ensure_directory(L"C:"));
  const std::wstring drive = absent_drive();
  EXPECT_FALSE(ensure_parent_directories((drive + L"\\a\\b\\f").c_str()));
  EXPECT_EQ(directory_cache_count(), before_drive);
  // No parent at all: nothing to make.
  EXPECT_TRUE(ensure_parent_directories(L"plain.txt"));
  EXPECT_TRUE(ensure_parent_directories(L"\\rooted.txt"));
  remove_tree(base);
}

}  // namespace
