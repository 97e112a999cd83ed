// Quoting single arguments and joining them into a command line, on the host:
// the examples table, and each text read back by the Windows splitting rules.
// The round trips through CommandLineToArgvW and a real child's runtime run
// under Wine (tests/windows/child_command_line_test.cpp).
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "child/quote.h"
#include "tests/common/command_line_split.h"

namespace {

using namespace quorin;
using quorin::test_split::split_command_line;
using Split = std::vector<std::wstring>;

std::wstring quoted_argument(const std::wstring& arg) {
  wchar_t text[256] = L"";
  std::size_t len = 0;
  child::append_quoted_argument(text, 256, len, arg.c_str());
  EXPECT_EQ(len, std::wcslen(text));
  return text;
}

std::wstring joined(const Split& args) {
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& arg : args) pointers.push_back(arg.c_str());
  static wchar_t buffer[1024];
  child::join_command_line(buffer, 1024, pointers.data(), static_cast<int>(pointers.size()));
  return buffer;
}

void check(const std::wstring& arg, const std::wstring& expected) {
  EXPECT_EQ(quoted_argument(arg), expected) << testing::PrintToString(arg);
  // And it reads back as the argument it came from.
  const Split split = split_command_line(L"x.exe " + expected);
  ASSERT_EQ(split.size(), 2u) << testing::PrintToString(expected);
  EXPECT_EQ(split[1], arg);
}

TEST(ChildQuoting, PlainArgumentsAreWrittenUnchanged) {
  check(L"report.txt", L"report.txt");
  check(L"C:\\dir\\", L"C:\\dir\\");
  check(L"\\", L"\\");
  check(L"\\\\\\", L"\\\\\\");
  check(L"a\\\\b\\c", L"a\\\\b\\c");
  check(L"-f=1,2;3", L"-f=1,2;3");
}

TEST(ChildQuoting, BlanksTabsLineFeedsAndVerticalTabsAreQuoted) {
  check(L"two words", L"\"two words\"");
  check(L" ", L"\" \"");
  check(L"a\tb", L"\"a\tb\"");
  check(L"a\nb", L"\"a\nb\"");
  check(L"\v", L"\"\v\"");
  // Backslashes in the middle, not before a quote, are not doubled.
  check(L"a\\\\b c", L"\"a\\\\b c\"");
}

TEST(ChildQuoting, EmbeddedQuotesAreEscaped) {
  check(L"say \"hi\"", L"\"say \\\"hi\\\"\"");
  check(L"\"", L"\"\\\"\"");
  check(L"a\"\"b", L"\"a\\\"\\\"b\"");
  // 2k+1 backslashes before an inner quote.
  check(L"a\\\"b", L"\"a\\\\\\\"b\"");
  check(L"\\\\\"", L"\"\\\\\\\\\\\"\"");
}

TEST(ChildQuoting, TrailingBackslashesAreDoubledInsideQuotes) {
  check(L"C:\\my dir\\", L"\"C:\\my dir\\\\\"");
  check(L"a b\\\\\\", L"\"a b\\\\\\\\\\\\\"");
  check(L"\t\\", L"\"\t\\\\\"");
}

TEST(ChildQuoting, NonAsciiUnitsStayAsTheyAre) {
  check(L"\u00e9t\u00e9", L"\u00e9t\u00e9");
  check(L"\u4e2d \u6587", L"\"\u4e2d \u6587\"");
  // Neither the ideographic nor the no-break space splits an argument.
  check(L"a\u3000b\u00a0c", L"a\u3000b\u00a0c");
  check(L"\U0001F600", L"\U0001F600");
}

TEST(ChildQuoting, EmptyArgumentIsWrittenAsTwoQuotesSoTheChildGetsIt) {
  check(L"", L"\"\"");
  EXPECT_EQ(split_command_line(joined({L"x.exe", L"", L"b", L""})), (Split{L"x.exe", L"", L"b", L""}));
}

TEST(ChildQuoting, WholeLineHasSingleBlanksBetweenArguments) {
  EXPECT_EQ(joined({L"C:\\Program Files\\Tool\\launcher.exe", L"report.txt", L"two words"}),
            L"\"C:\\Program Files\\Tool\\launcher.exe\" report.txt \"two words\"");
  EXPECT_EQ(joined({L"C:\\Tool\\launcher.exe"}), L"C:\\Tool\\launcher.exe");
}

}  // namespace
