// Environment and path helpers. Talks to the system.
#include "launcher/env.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <cwchar>

#include "errors/fatal.h"
#include "launcher/wide_text.h"

namespace quorin::launcher {

namespace {

wchar_t g_own_path[kOwnPathCap];
wchar_t g_env_value[kEnvValueCap];

}  // namespace

void widen_ascii(wchar_t* dest, std::size_t cap, const char* narrow) {
  if (cap == 0) errors::hard_stop();
  dest[0] = L'\0';
  for (; *narrow != '\0'; ++narrow) {
    const char pair[2] = {*narrow, '\0'};
    wchar_t scratch[2] = {0, 0};
    if (std::mbstowcs(scratch, pair, 2) != 1) errors::hard_stop();
    append_unit(dest, cap, scratch[0]);
  }
}

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
