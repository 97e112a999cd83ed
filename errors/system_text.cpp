// Cleaning the system's error text. Pure code.
#include "errors/system_text.h"

#include <cstring>

namespace quorin::errors {

void trim_trailing_line_breaks(char* text) {
  std::size_t len = std::strlen(text);
  while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n')) {
    text[--len] = '\0';
  }
}

}  // namespace quorin::errors
