// The reporters that need only the C runtime: plain failures, the open and
// spec messages. Pure code: no system calls beyond standard output and exit.
#include <cstdio>
#include <cstdlib>

#include "errors/fatal.h"
#include "errors/messages.h"

namespace quorin::errors {

void fail_plain(const char* message) {
  std::puts(message);
  std::exit(kFailureExitCode);
}

void fail_open_for_writing(const wchar_t* path) {
  std::fprintf(stderr, kOpenForWritingFormat, path);
  std::exit(kFailureExitCode);
}

void fail_spec(const wchar_t* spec) {
  std::fprintf(stderr, kSpecFormat, spec);
  std::fflush(stderr);
  hard_stop();
}

}  // namespace quorin::errors
