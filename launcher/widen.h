// Widening narrow ASCII text (environment-variable names, decimal numbers)
// into a fixed UTF-16 buffer. Pure code: no system calls.
#pragma once

#include <cstddef>

namespace quorin::launcher {

// Widens narrow text unit by unit into dest (cap units, terminator included)
// with the runtime's multibyte conversion; hard stop on a byte that does not
// give exactly one wide character, or on overflow.
void widen_ascii(wchar_t* dest, std::size_t cap, const char* narrow);

}  // namespace quorin::launcher
