// The failure box's text: the reporters' own formats give the very line they
// write, without its line break, and a line with no room is cut visibly.
#include <gtest/gtest.h>

#include <string>

#include "errors/failure_text.h"
#include "errors/messages.h"

namespace {

using namespace quorin::errors;

std::wstring format(const char* format_text, const FailureArgs& args, std::size_t cap = kFailureTextCap) {
  std::wstring out(cap, L'#');
  format_failure_text(out.data(), cap, format_text, args);
  return out.c_str();
}

FailureArgs system_args(const char* message, long code, const char* text) {
  FailureArgs args;
  args.texts[0] = message;
  args.texts[1] = text;
  args.number = code;
  return args;
}

FailureArgs path_args(const wchar_t* path) {
  FailureArgs args;
  args.path = path;
  return args;
}

TEST(FailureText, IsTheReportersLineWithoutItsLineBreak) {
  struct Case {
    const char* format;
    FailureArgs args;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {kHeaderMessage, {}, L"Error, couldn't find attached data header."},
      {kOpenForWritingFormat, path_args(L"C:\\Users\\J\u00f6rg\\app\\x.dll"),
       L"Error, failed to open 'C:\\Users\\J\u00f6rg\\app\\x.dll' for writing."},
      {kSpecFormat, path_args(L"{CACHE_DIR}\\A\\{NOPE}"), L"Error, couldn't runtime expand spec '{CACHE_DIR}\\A\\{NOPE}'."},
      {kSystemErrorFormat, system_args(kLaunchMessage, 2, "The system cannot find the file specified."),
       L"Error, couldn't launch child ([Error 2] The system cannot find the file specified.)"},
      {kSystemErrorFormat, system_args(kUnpackMessage, 112, kNoSystemText),
       L"Error, couldn't unpack file to target path. ([Error 112] unknown error)"},
      {kSystemErrorFormat, system_args(kLaunchMessage, -1073741819, "x"),
       L"Error, couldn't launch child ([Error -1073741819] x)"},
  };
  for (const Case& c : cases) EXPECT_EQ(format(c.format, c.args), c.expected) << c.format;
}

// Room is kept for the mark: a line of capacity - 4 units is whole, one more
// is cut there and ends in "...".
TEST(FailureText, LineWithNoRoomEndsInAMark) {
  EXPECT_EQ(format("abcdefgh", {}, 12), L"abcdefgh");
  EXPECT_EQ(format("abcdefghi", {}, 12), L"abcdefgh...");
  EXPECT_EQ(format(kOpenForWritingFormat, path_args(L"C:\\a-long-path"), 20), L"Error, failed to...");
  EXPECT_EQ(format("abc", {}, 4), L"");
}

}  // namespace
