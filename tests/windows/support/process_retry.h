// Test support: process creation tried again when Wine refuses it for want
// of a moment, not for anything the test did.
#pragma once

#include <windows.h>

namespace quorin::testing {

// Wine's process creation fails now and then with ERROR_INTERNAL_ERROR under
// load, before the program runs at all: tried up to three times, as the
// launcher tries its child again. Any other failure is returned at once.
template <typename Create>
BOOL create_process_with_retries(Create create) {
  for (int tries = 1;; ++tries) {
    if (create()) return TRUE;
    if (GetLastError() != ERROR_INTERNAL_ERROR || tries == 3) return FALSE;
    Sleep(50);
  }
}

}  // namespace quorin::testing
