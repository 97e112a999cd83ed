// Environment and path helpers. Talks to the system (environment, module
// path, full paths, shell folders).
#include "launcher/env.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "errors/fatal.h"
#include "launcher/wide_text.h"
#include "launcher/widen.h"

namespace quorin::launcher {

namespace {

wchar_t g_own_path[kOwnPathCap];
wchar_t g_env_value[kEnvValueCap];

}  // namespace

wchar_t* env_get_w(const wchar_t* name) {
  const DWORD len = GetEnvironmentVariableW(name, g_env_value, kEnvValueCap);
  // 0: absent or empty (the system cannot tell them apart); larger than the
  // buffer: the value did not fit and the buffer holds nothing usable.
  if (len == 0 || len >= kEnvValueCap) return nullptr;
  return _wcsdup(g_env_value);
}

wchar_t* env_get(const char* name) {
  wchar_t wide_name[kEnvNameCap];
  widen_ascii(wide_name, kEnvNameCap, name);
  return env_get_w(wide_name);
}

void env_set(const char* name, const wchar_t* value) {
  wchar_t wide_name[kEnvNameCap];
  widen_ascii(wide_name, kEnvNameCap, name);
  SetEnvironmentVariableW(wide_name, value);
}

void env_unset(const char* name) {
  wchar_t wide_name[kEnvNameCap];
  widen_ascii(wide_name, kEnvNameCap, name);
  SetEnvironmentVariableW(wide_name, nullptr);
}

void process_id_text(wchar_t* dest) {
  char narrow[kNumberTextCap];
  std::snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(GetCurrentProcessId()));
  widen_ascii(dest, kNumberTextCap, narrow);
}

const wchar_t* own_path() {
  if (g_own_path[0] != L'\0') return g_own_path;
  // The result is not examined: a path cut to fit is used as it comes, and a
  // failed call leaves the path empty.
  GetModuleFileNameW(nullptr, g_own_path, kOwnPathCap);
  bounded_length(g_own_path, kOwnPathCap);
  return g_own_path;
}

void make_absolute(wchar_t* path) {
  static wchar_t full[kPathCap];
  const DWORD len = GetFullPathNameW(path, kPathCap, full, nullptr);
  if (len == 0 || len >= kPathCap) errors::hard_stop();
  copy_text(path, kPathCap, full);
}

bool append_folder(wchar_t* dest, int folder_id, std::size_t cap) {
  wchar_t folder[MAX_PATH + 1];
  if (SHGetFolderPathW(nullptr, folder_id, nullptr, 0, folder) != S_OK) return false;
  append_text(dest, cap, folder);
  return true;
}

}  // namespace quorin::launcher
