// The reporters that need only the C runtime: plain failures, the open and
// spec messages. Pure code: no system calls beyond standard output and exit,
// the removal of the current temporary file (errors/temporary_file.h) and the
// failure box (errors/failure_box.h).
#include <cstdio>
#include <cstdlib>

#include "errors/failure_box.h"
#include "errors/fatal.h"
#include "errors/messages.h"
#include "errors/temporary_file.h"

namespace quorin::errors {

void show_failure_line(const char* format, const FailureArgs& args) {
  if (!failure_box_wanted()) return;
  static wchar_t text[kFailureTextCap];
  format_failure_text(text, kFailureTextCap, format, args);
  show_failure_box(text);
}

void fail_plain(const char* message) {
  remove_temporary_file();
  std::puts(message);
  show_failure_line(message, FailureArgs{});
  std::exit(kFailureExitCode);
}

void fail_open_for_writing(const wchar_t* path) {
  remove_temporary_file();
  std::fprintf(stderr, kOpenForWritingFormat, path);
  FailureArgs args;
  args.path = path;
  show_failure_line(kOpenForWritingFormat, args);
  std::exit(kFailureExitCode);
}

void fail_spec(const wchar_t* spec) {
  std::fprintf(stderr, kSpecFormat, spec);
  std::fflush(stderr);
  FailureArgs args;
  args.path = spec;
  show_failure_line(kSpecFormat, args);
  hard_stop();
}

}  // namespace quorin::errors
