// The launcher's shared helpers that talk to the system: environment and path
// queries, and the fatal reporters' output and endings.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "errors/fatal.h"
#include "launcher/env.h"
#include "launcher/wide_text.h"
#include "tests/common/crc_agreement.h"

namespace {

using namespace quorin;

constexpr int kHardStop = errors::kHardStopExitCode;

// --- the checksum, as this build computes it ---

TEST(Checksum, AgreesWithZlibOnEveryLengthAlignmentAndSplit) {
  EXPECT_EQ(quorin::test_archive::crc_disagreement(), "");
}

// --- environment ---

TEST(Environment, EmptyAndMissingVariablesReadAsNoValue) {
  SetEnvironmentVariableW(L"QUORIN_TEST_EMPTY", L"");
  EXPECT_EQ(launcher::env_get("QUORIN_TEST_EMPTY"), nullptr);
  SetEnvironmentVariableW(L"QUORIN_TEST_MISSING", nullptr);
  EXPECT_EQ(launcher::env_get("QUORIN_TEST_MISSING"), nullptr);
}

TEST(Environment, SetGetAndUnsetRoundTrip) {
  launcher::env_set("QUORIN_TEST_VALUE", L"caf\u00e9 \u65e5\u672c");
  const wchar_t* value = launcher::env_get("QUORIN_TEST_VALUE");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, L"caf\u00e9 \u65e5\u672c");
  // A heap copy: later changes do not reach it.
  launcher::env_set("QUORIN_TEST_VALUE", L"other");
  EXPECT_STREQ(value, L"caf\u00e9 \u65e5\u672c");
  launcher::env_unset("QUORIN_TEST_VALUE");
  EXPECT_EQ(launcher::env_get("QUORIN_TEST_VALUE"), nullptr);
}

TEST(Environment, LongestValueFits) {
  // The system keeps at most 32,767 units with the terminator.
  const std::wstring longest(32766, L'v');
  ASSERT_TRUE(SetEnvironmentVariableW(L"QUORIN_TEST_LONG", longest.c_str()));
  const wchar_t* value = launcher::env_get("QUORIN_TEST_LONG");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::wcslen(value), 32766u);
  SetEnvironmentVariableW(L"QUORIN_TEST_LONG", nullptr);
}

// --- paths ---

TEST(Paths, OwnPathIsAskedOnceAndIsTheModulePath) {
  wchar_t module[4096];
  GetModuleFileNameW(nullptr, module, 4096);
  const wchar_t* first = launcher::own_path();
  EXPECT_STREQ(first, module);
  EXPECT_EQ(launcher::own_path(), first);
}

TEST(Paths, MakeAbsoluteResolvesAgainstTheCurrentDirectory) {
  wchar_t current[4096];
  GetCurrentDirectoryW(4096, current);
  std::wstring expected = current;
  if (expected.back() != L'\\') expected += L'\\';
  expected += L"some\\dir";
  static wchar_t path[launcher::kPathCap];
  launcher::copy_text(path, launcher::kPathCap, L"some\\.\\other\\..\\dir");
  launcher::make_absolute(path);
  EXPECT_STREQ(path, expected.c_str());
}

TEST(Paths, MakeAbsoluteStopsOnWhatTheSystemRefuses) {
  static wchar_t path[launcher::kPathCap];
  path[0] = L'\0';
  EXPECT_EXIT(launcher::make_absolute(path), ::testing::ExitedWithCode(kHardStop), "");
  // A result of 4096 units or more does not fit the target directory buffer.
  // A relative name that fits the buffer, but not once the current directory is put before it.
  const std::wstring long_name(4090, L'x');
  launcher::copy_text(path, launcher::kPathCap, long_name.c_str());
  EXPECT_EXIT(launcher::make_absolute(path), ::testing::ExitedWithCode(kHardStop), "");
}

TEST(Paths, AppendFolderAppendsTheProfileFolder) {
  wchar_t profile[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
  wchar_t buffer[4096] = L"x";
  EXPECT_TRUE(launcher::append_folder(buffer, launcher::kFolderProfile, 4096));
  EXPECT_EQ(std::wstring(buffer), L"x" + std::wstring(profile));
  // The capacity counts the whole destination: no room is a hard stop.
  wchar_t small[8] = L"";
  EXPECT_EXIT(launcher::append_folder(small, launcher::kFolderProfile, 8), ::testing::ExitedWithCode(kHardStop), "");
}

TEST(Paths, AppendFolderFailureLeavesTheDestination) {
  wchar_t buffer[64] = L"keep";
  EXPECT_FALSE(launcher::append_folder(buffer, 0x7FFF, 64));  // no such folder id
  EXPECT_STREQ(buffer, L"keep");
}

// --- fatal reporters ---

TEST(FatalErrors, SystemFailureLineAndExitCode) {
  EXPECT_EXIT(errors::fail_system("Error, couldn't launch child", ERROR_FILE_NOT_FOUND),
              ::testing::ExitedWithCode(2), "^Error, couldn't launch child \\(\\[Error 2\\] .+\\)\r?\n$");
}

TEST(FatalErrors, SystemFailureWithoutTextKeepsTheLineShape) {
  EXPECT_EXIT(errors::fail_system("Error, couldn't unpack file to target path.", 0x2FFFFFFF),
              ::testing::ExitedWithCode(2),
              "^Error, couldn't unpack file to target path. \\(\\[Error 805306367\\] .+\\)\r?\n$");
}

TEST(FatalErrors, OpenForWritingNamesThePath) {
  EXPECT_EXIT(errors::fail_open_for_writing(L"C:\\target\\file.txt"), ::testing::ExitedWithCode(2),
              "^Error, failed to open 'C:\\\\target\\\\file.txt' for writing.\r?\n$");
}

TEST(FatalErrors, SpecFailureWritesThenStopsHard) {
  EXPECT_EXIT(errors::fail_spec(L"{HOME}"), ::testing::ExitedWithCode(kHardStop),
              "^Error, couldn't runtime expand spec '\\{HOME\\}'.\r?\n$");
}

TEST(FatalErrors, PlainFailureExitsWithTwo) {
  EXPECT_EXIT(errors::fail_plain("Error, couldn't allocate memory."), ::testing::ExitedWithCode(2), "");
}

TEST(FatalErrors, HardStopIsSilent) {
  EXPECT_EXIT(errors::hard_stop(), ::testing::ExitedWithCode(kHardStop), "^$");
}

}  // namespace
