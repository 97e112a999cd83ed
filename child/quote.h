// Quoting arguments and joining them into a Windows command line that
// CommandLineToArgvW and the C runtime read back unchanged. Pure code: no
// system calls.
#pragma once

#include <cstddef>

namespace quorin::child {

// Appends arg at dest[len] (cap units, terminator included; len the length of
// dest's text, advanced) under the bounded copy rule: a hard stop when it does
// not fit, never a cut text.
void append_quoted_argument(wchar_t* dest, std::size_t cap, std::size_t& len, const wchar_t* arg);

// Joins args with single blanks, each quoted as needed, into dest (cap units,
// emptied first); a hard stop when the text would not fit.
void join_command_line(wchar_t* dest, std::size_t cap, const wchar_t* const* args, int count);

}  // namespace quorin::child
