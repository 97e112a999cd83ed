// Target directory spec expansion: placeholders between braces become folders
// of the user and the system, facts about the running launcher, build
// constants and values made fresh at each start. Talks to the system.
#pragma once

#include <cstddef>

namespace quorin::expansion {

// Expands spec into output (capacity units, terminator included). False for a
// literal that does not fit, an unknown or empty name (one over 1023 units
// included), a failed system query, or a temporary folder or module path that
// does not fit; the output then holds, terminated, what was expanded before
// the failing item. A value that does not fit, or a malformed
// QUORIN_ONEFILE_PARENT, is a hard stop. Reading: "{" always opens a name and
// restarts one already open; a "}" outside a name is a literal; a name still
// open at the end is dropped. RANDOM, TIME_US and TIME are remembered in
// QUORIN_ONEFILE_RANDOM, _TIME_US and _START and reused while set. CACHE_DIR
// is the absolute folder in QUORIN_CACHE_DIR when that holds one, else the
// local application-data folder.
bool expand_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity);

}  // namespace quorin::expansion
