// Target directory spec expansion: placeholders between braces become folders
// of the user and the system, facts about the running launcher, build
// constants and values made fresh at each start. Talks to the system.
#pragma once

#include <cstddef>

namespace quorin::expansion {

// Expands spec into output (capacity units, terminator included). False for a
// literal that does not fit, an unknown or empty name, a name over 1023 units,
// or a failed system query; the output then holds what was expanded before the
// failing item. A value that does not fit, or a malformed
// QUORIN_ONEFILE_PARENT, is a hard stop.
bool expand_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity);

}  // namespace quorin::expansion
