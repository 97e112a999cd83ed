// The launcher's pure text helpers, on the host: bounded copies at capacity,
// path cuts, the widening of narrow names, the trimming of a system text.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "errors/fatal.h"
#include "errors/system_text.h"
#include "launcher/wide_text.h"
#include "launcher/widen.h"

namespace {

using namespace quorin;

constexpr int kHardStop = errors::kHardStopExitCode;

// --- bounded copies ---

TEST(BoundedCopy, FillsToCapacityMinusOneThenStops) {
  wchar_t buffer[5] = L"";
  launcher::append_text(buffer, 5, L"abc");
  launcher::append_unit(buffer, 5, L'd');  // 4 units: capacity - 1
  EXPECT_STREQ(buffer, L"abcd");
  EXPECT_EXIT(launcher::append_unit(buffer, 5, L'e'), ::testing::ExitedWithCode(kHardStop), "");
  EXPECT_EXIT(launcher::copy_text(buffer, 4, L"abcd"), ::testing::ExitedWithCode(kHardStop), "");
}

TEST(BoundedCopy, AppendCountsTheTextAlreadyThere) {
  wchar_t buffer[8] = L"abcd";
  launcher::append_text(buffer, 8, L"efg");
  EXPECT_STREQ(buffer, L"abcdefg");
  wchar_t full[8] = L"abcdefg";
  EXPECT_EXIT(launcher::append_text(full, 8, L"h"), ::testing::ExitedWithCode(kHardStop), "");
}

TEST(BoundedCopy, UnterminatedDestinationIsAHardStop) {
  wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
  EXPECT_EXIT(launcher::append_unit(buffer, 4, L'x'), ::testing::ExitedWithCode(kHardStop), "");
}

TEST(BoundedCopy, CopyReplacesAndTerminates) {
  wchar_t buffer[6] = L"old!!";
  launcher::copy_text(buffer, 6, L"new");
  EXPECT_STREQ(buffer, L"new");
  launcher::copy_text(buffer, 6, L"");
  EXPECT_STREQ(buffer, L"");
}

// --- cut_at_last_backslash ---

void expect_cut(const wchar_t* path, const wchar_t* expected) {
  wchar_t buffer[64];
  launcher::copy_text(buffer, 64, path);
  launcher::cut_at_last_backslash(buffer);
  EXPECT_STREQ(buffer, expected) << path;
}

TEST(CutAtLastBackslash, Cases) {
  expect_cut(L"C:\\dir\\file.exe", L"C:\\dir");
  expect_cut(L"C:\\a\\b\\c", L"C:\\a\\b");
  expect_cut(L"file.exe", L"file.exe");
  expect_cut(L"C:\\Tool.exe", L"C:");
  expect_cut(L"C:\\dir\\", L"C:\\dir");
  expect_cut(L"\\\\server\\share\\x", L"\\\\server\\share");
  expect_cut(L"", L"");
}

// --- widening and trimming ---

TEST(Widen, NamesAreWidenedUnitByUnit) {
  wchar_t wide[launcher::kEnvNameCap];
  launcher::widen_ascii(wide, launcher::kEnvNameCap, "QUORIN_ONEFILE_DIRECTORY");
  EXPECT_STREQ(wide, L"QUORIN_ONEFILE_DIRECTORY");
  // 39 characters fit the 40-unit name buffer; 40 do not.
  const std::string longest(39, 'N');
  launcher::widen_ascii(wide, launcher::kEnvNameCap, longest.c_str());
  EXPECT_EQ(std::wcslen(wide), 39u);
  const std::string too_long(40, 'N');
  EXPECT_EXIT(launcher::widen_ascii(wide, launcher::kEnvNameCap, too_long.c_str()),
              ::testing::ExitedWithCode(kHardStop), "");
}

TEST(SystemText, LosesItsLineBreaks) {
  char text[] = "The system cannot find the file specified.\r\n\r\n";
  errors::trim_trailing_line_breaks(text);
  EXPECT_STREQ(text, "The system cannot find the file specified.");
  char inner[] = "a\r\nb\n";
  errors::trim_trailing_line_breaks(inner);
  EXPECT_STREQ(inner, "a\r\nb");
  char empty[] = "\r\n";
  errors::trim_trailing_line_breaks(empty);
  EXPECT_STREQ(empty, "");
}

}  // namespace
