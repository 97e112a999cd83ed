// The launcher's current temporary file and its removal on the way out.
// Talks to the system (closes and deletes one file).
#include "errors/temporary_file.h"

#include <windows.h>

namespace quorin::errors {

namespace {

const wchar_t* g_path = nullptr;
HANDLE g_handle = INVALID_HANDLE_VALUE;
void (*g_also_remove)() = nullptr;

}  // namespace

void hold_temporary_file(const wchar_t* path, void* handle) {
  g_path = path;
  g_handle = handle;
}

void forget_temporary_file() {
  g_path = nullptr;
  g_handle = INVALID_HANDLE_VALUE;
}

void on_failure_also_remove(void (*remove)()) { g_also_remove = remove; }

void remove_temporary_file() {
  // The file was opened without delete sharing: it can only go once closed.
  if (g_handle != INVALID_HANDLE_VALUE) CloseHandle(g_handle);
  if (g_path != nullptr) DeleteFileW(g_path);
  forget_temporary_file();
  if (g_also_remove != nullptr) {
    void (*remove)() = g_also_remove;
    g_also_remove = nullptr;
    remove();
  }
}

}  // namespace quorin::errors
