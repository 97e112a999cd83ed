// The child's command line: the launcher's own arguments, with the launcher's
// full path as argument 0, quoted by the Windows rules. Talks to the system.
#pragma once

#include <cstddef>

#include "child/quote.h"

namespace quorin::child {

inline constexpr std::size_t kCommandLineCap = 32768;

// Splits the launcher's command line, puts the module path in place of
// argument 0 and joins the result into the process-wide command line buffer,
// which it returns. A second build gives the same text.
const wchar_t* build_child_command_line();

}  // namespace quorin::child
