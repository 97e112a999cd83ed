// Process-wide state of the launcher. No system calls.
#include "launcher/state.h"

namespace quorin::launcher {

wchar_t g_target_directory[kPathCap];
wchar_t g_child_program_path[kPathCap];
wchar_t g_launcher_directory[kOwnPathCap];

}  // namespace quorin::launcher
