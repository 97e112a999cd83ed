// Process-wide state of the launcher, shared by the start-up sequence, the
// extraction and the child launch. Main thread only.
#pragma once

#include "launcher/wide_text.h"

namespace quorin::launcher {

extern wchar_t g_target_directory[kPathCap];
extern wchar_t g_child_program_path[kPathCap];
extern wchar_t g_launcher_directory[kOwnPathCap];

}  // namespace quorin::launcher
