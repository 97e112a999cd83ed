// Quoting one argument for a Windows command line so that CommandLineToArgvW
// and the C runtime read it back unchanged. Pure code: no system calls.
#pragma once

#include <cstddef>

namespace quorin::child {

// Appends arg at dest[len] (cap units, terminator included; len the length of
// dest's text, advanced) under the bounded copy rule: a hard stop when it does
// not fit, never a cut text.
void append_quoted_argument(wchar_t* dest, std::size_t cap, std::size_t& len, const wchar_t* arg);

}  // namespace quorin::child
