// The reporters that need only the C runtime: plain failures, the open and
// spec messages. Pure code: no system calls beyond standard output and exit,
// and the removal of the current temporary file (errors/temporary_file.h).
#include <cstdio>
#include <cstdlib>

#include "errors/fatal.h"
#include "errors/messages.h"
#include "errors/temporary_file.h"

namespace quorin::errors {

void fail_plain(const char* message) {
  remove_temporary_file();
  std::puts(message);
  std::exit(kFailureExitCode);
}

void fail_open_for_writing(const wchar_t* path) {
  remove_temporary_file();
  std::fprintf(stderr, kOpenForWritingFormat, path);
  std::exit(kFailureExitCode);
}

void fail_spec(const wchar_t* spec) {
  std::fprintf(stderr, kSpecFormat, spec);
  std::fflush(stderr);
  hard_stop();
}

}  // namespace quorin::errors
