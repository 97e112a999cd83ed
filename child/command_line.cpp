// The child's command line. Talks to the system (command line, module path).
#include "child/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "child/quote.h"
#include "errors/fatal.h"
#include "launcher/wide_text.h"

namespace quorin::child {

namespace {

wchar_t g_command_line[kCommandLineCap];
// Filled once, while empty; separate from the launcher's own-path buffer.
wchar_t g_module_path[launcher::kPathCap];

}  // namespace

const wchar_t* build_child_command_line() {
  int count = 0;
  // The array lives until the process ends; it is not released. Without an
  // array there is no argument 0 to replace: a hard stop, as for any other
  // condition that cannot happen.
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count < 1) errors::hard_stop();
  // Asked once: later builds find the buffer filled and reuse it.
  if (g_module_path[0] == L'\0') {
    if (GetModuleFileNameW(nullptr, g_module_path, launcher::kPathCap) == 0) errors::hard_stop();
    // A path that does not fit is cut and terminated by the system, and used as
    // it comes; Windows XP left such a path without its terminator, so make sure
    // one lies within the buffer before the path is read (hard stop otherwise).
    launcher::bounded_length(g_module_path, launcher::kPathCap);
  }
  args[0] = g_module_path;
  join_command_line(g_command_line, kCommandLineCap, args, count);
  return g_command_line;
}

}  // namespace quorin::child
