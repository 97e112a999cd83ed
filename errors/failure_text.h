// The text a failure box shows: the very line a fatal reporter writes, from
// the same format and arguments, as UTF-16 for the system's window and
// without its line break. Pure code.
#pragma once

#include <cstddef>

namespace quorin::errors {

// What a reporter's format takes: each "%s" the next of texts, "%ls" the
// path, "%ld" the number.
struct FailureArgs {
  const char* texts[2] = {nullptr, nullptr};
  const wchar_t* path = nullptr;
  long number = 0;
};

// Room for the longest line: a path of 4,095 units, a message of a few dozen
// and a system text of a few hundred.
inline constexpr std::size_t kFailureTextCap = 8192;

// Writes the line into out (out_cap units, terminator included). Narrow texts
// are the launcher's ASCII messages and the system's English text: each byte
// becomes one unit. A trailing "\n" is left out. A line with no room left
// ends in "..." where it was cut, so a cut is never silent; the line on the
// handles is always whole.
void format_failure_text(wchar_t* out, std::size_t out_cap, const char* format, const FailureArgs& args);

}  // namespace quorin::errors
