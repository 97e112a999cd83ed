// Quoting arguments and joining them into a Windows command line. Pure code.
//
// The splitting rules this inverts:
//   - backslashes are literal unless a double quote follows them;
//   - 2k backslashes and a double quote read as k backslashes, the quote
//     opening or closing a quoted part;
//   - 2k+1 backslashes and a double quote read as k backslashes and a literal quote.
//
//   argument        written
//   report.txt      report.txt
//   C:\dir\         C:\dir\            (no quoting needed: backslashes stay)
//   two words       "two words"
//   say "hi"        "say \"hi\""
//   C:\my dir\      "C:\my dir\\"      (2k before the closing quote)
//   a\"b            "a\\\"b"           (2k+1 before an inner quote)
//   (empty)         ""
#include "child/quote.h"

#include <cwchar>

#include "errors/fatal.h"
#include "launcher/wide_text.h"

namespace quorin::child {

namespace {

bool needs_quoting(const wchar_t* arg) {
  // An empty argument is written as "" so that the child still receives it.
  return *arg == L'\0' || std::wcspbrk(arg, L" \t\n\v\"") != nullptr;
}

void put_backslashes(wchar_t* dest, std::size_t cap, std::size_t& len, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) launcher::put_unit(dest, cap, len, L'\\');
}

}  // namespace

void append_quoted_argument(wchar_t* dest, std::size_t cap, std::size_t& len, const wchar_t* arg) {
  using launcher::put_unit;
  if (!needs_quoting(arg)) {
    for (; *arg != L'\0'; ++arg) put_unit(dest, cap, len, *arg);
    return;
  }
  put_unit(dest, cap, len, L'"');
  for (const wchar_t* p = arg;;) {
    std::size_t backslashes = 0;
    while (*p == L'\\') {
      ++backslashes;
      ++p;
    }
    if (*p == L'\0') {
      put_backslashes(dest, cap, len, 2 * backslashes);  // 2k before the closing quote
      break;
    }
    if (*p == L'"') {
      put_backslashes(dest, cap, len, 2 * backslashes + 1);  // 2k+1 before an inner quote
    } else {
      put_backslashes(dest, cap, len, backslashes);
    }
    put_unit(dest, cap, len, *p);
    ++p;
  }
  put_unit(dest, cap, len, L'"');
}

void join_command_line(wchar_t* dest, std::size_t cap, const wchar_t* const* args, int count) {
  if (cap == 0) errors::hard_stop();
  dest[0] = L'\0';
  std::size_t len = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) launcher::put_unit(dest, cap, len, L' ');  // exactly one blank between arguments
    append_quoted_argument(dest, cap, len, args[i]);
  }
}

}  // namespace quorin::child
