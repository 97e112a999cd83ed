// The progress line of long work: one line on stderr, rewritten in place,
// shown on a terminal only. Prints on stderr.
#pragma once

#include "packer/archive_writer.h"
#include "packer/options.h"

namespace quorin::packer {

// A progress display on stderr when it is a terminal and --quiet is not given,
// else nullptr: "LABEL: done of total MiB (percent), rate, time left", one
// line rewritten in place, ended when done reaches total.
ProgressFn progress_display(const ParsedArgs& parsed, const char* label);

// Ends a progress line that an interrupt or a failure left unfinished.
void end_progress_line();

}  // namespace quorin::packer
