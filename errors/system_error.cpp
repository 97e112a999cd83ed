// The system failure line. Talks to the system for the error's text.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "errors/failure_box.h"
#include "errors/fatal.h"
#include "errors/messages.h"
#include "errors/system_text.h"
#include "errors/temporary_file.h"

namespace quorin::errors {

void fail_system(const char* message, unsigned long code) {
  remove_temporary_file();
  char* system_text = nullptr;
  const DWORD written = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<char*>(&system_text), 0, nullptr);
  // With no text for the code the line keeps its shape; the third field says so.
  const char* shown = kNoSystemText;
  if (written != 0 && system_text != nullptr) {
    trim_trailing_line_breaks(system_text);
    shown = system_text;
  }
  std::fprintf(stderr, kSystemErrorFormat, message, static_cast<long>(code), shown);
  FailureArgs args;
  args.texts[0] = message;
  args.texts[1] = shown;
  args.number = static_cast<long>(code);
  show_failure_line(kSystemErrorFormat, args);
  // The text buffer is not released: the process is ending.
  std::exit(kFailureExitCode);
}

}  // namespace quorin::errors
