// Fatal error reporting. Talks to the system for the error text and the ending.
#include "errors/fatal.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorin::errors {

void trim_trailing_line_breaks(char* text) {
  std::size_t len = std::strlen(text);
  while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n')) {
    text[--len] = '\0';
  }
}

void fail_plain(const char* message) {
  std::puts(message);
  std::exit(kFailureExitCode);
}

void fail_system(const char* message, unsigned long code) {
  char* system_text = nullptr;
  const DWORD written = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
      reinterpret_cast<char*>(&system_text), 0, nullptr);
  // With no text for the code the line keeps its shape; the third field says so.
  const char* shown = "unknown error";
  if (written != 0 && system_text != nullptr) {
    trim_trailing_line_breaks(system_text);
    shown = system_text;
  }
  std::fprintf(stderr, "%s ([Error %ld] %s)\n", message, static_cast<long>(code), shown);
  // The text buffer is not released: the process is ending.
  std::exit(kFailureExitCode);
}

void fail_open_for_writing(const wchar_t* path) {
  std::fprintf(stderr, "Error, failed to open '%ls' for writing.\n", path);
  std::exit(kFailureExitCode);
}

void fail_spec(const wchar_t* spec) {
  std::fprintf(stderr, "Error, couldn't runtime expand spec '%ls'.\n", spec);
  std::fflush(stderr);
  hard_stop();
}

void hard_stop() {
  // Not abort(): msvcrt's abort shows a "terminate in an unusual way" message
  // box for a GUI-subsystem program, which would hang an unattended start.
  // _exit ends the process at once, without exit handlers and without output.
  std::fflush(stderr);
  _exit(kHardStopExitCode);
}

}  // namespace quorin::errors
