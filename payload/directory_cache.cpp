// The cache of directories known to exist. Pure code.
#include "payload/directory_cache.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace quorin::payload {

namespace {

wchar_t* g_directories[kDirectoryCacheCap];
int g_directory_count = 0;

}  // namespace

bool directory_cache_holds(const wchar_t* path) {
  for (int i = 0; i < g_directory_count; ++i) {
    if (std::wcscmp(g_directories[i], path) == 0) return true;
  }
  return false;
}

void directory_cache_remember(const wchar_t* path) {
  if (g_directory_count >= kDirectoryCacheCap) return;
  const std::size_t bytes = (std::wcslen(path) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
  if (copy == nullptr) return;
  std::memcpy(copy, path, bytes);
  g_directories[g_directory_count++] = copy;
}

int directory_cache_count() { return g_directory_count; }

const wchar_t* directory_cache_entry(int index) {
  return index >= 0 && index < g_directory_count ? g_directories[index] : nullptr;
}

}  // namespace quorin::payload
