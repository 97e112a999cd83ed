// Widening narrow ASCII text. Pure code: the runtime's conversion, in its
// default locale, which the launcher never changes.
#include "launcher/widen.h"

#include <cstdlib>

#include "errors/fatal.h"
#include "launcher/wide_text.h"

namespace quorin::launcher {

void widen_ascii(wchar_t* dest, std::size_t cap, const char* narrow) {
  if (cap == 0) errors::hard_stop();
  dest[0] = L'\0';
  std::size_t len = 0;
  for (; *narrow != '\0'; ++narrow) {
    // The byte and a NUL, converted into a scratch of two units.
    const char pair[2] = {*narrow, '\0'};
    wchar_t scratch[2] = {0, 0};
    if (std::mbstowcs(scratch, pair, 2) != 1) errors::hard_stop();
    put_unit(dest, cap, len, scratch[0]);
  }
}

}  // namespace quorin::launcher
