// Cleaning the system's text for an error code before it goes into the system
// error line. Pure code: no system calls.
#pragma once

namespace quorin::errors {

// Removes every carriage return and line feed at the end of text, in place,
// working backwards from the last character.
void trim_trailing_line_breaks(char* text);

}  // namespace quorin::errors
