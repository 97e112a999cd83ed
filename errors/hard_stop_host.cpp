// The hard stop of the host build (host tests, fuzzing, the packer's use of
// the shared code): the same status as the launcher's, 3, so tests read it
// alike. Ends the process through the C library.
#include <unistd.h>

#include <cstdio>

#include "errors/fatal.h"

namespace quorin::errors {

void hard_stop() {
  std::fflush(stderr);
  _exit(kHardStopExitCode);
}

}  // namespace quorin::errors
