// The launcher's hard stop. Removes the current temporary file, then ends the
// process through the runtime.
#include <stdlib.h>

#include <cstdio>

#include "errors/fatal.h"
#include "errors/temporary_file.h"

namespace quorin::errors {

void hard_stop() {
  // Not abort(): msvcrt's abort shows a "terminate in an unusual way" message
  // box for a GUI-subsystem program, which would hang an unattended start.
  // _exit ends the process at once, without exit handlers and without output.
  remove_temporary_file();
  std::fflush(stderr);
  _exit(kHardStopExitCode);
}

}  // namespace quorin::errors
