// The cache of directories known to exist. Pure code.
#include "payload/directory_cache.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "payload/fnv1a.h"

namespace quorin::payload {

namespace {

wchar_t* g_directories[kDirectoryCacheCap];
int g_directory_count = 0;

// An index over the table, so that a look-up costs one comparison rather
// than one per entry: open addressing, twice as many slots as entries, each
// slot an entry's index plus one (0: empty). The table stays what it is.
constexpr std::size_t kSlots = 2 * kDirectoryCacheCap;
int g_slots[kSlots];

std::uint64_t path_hash(const wchar_t* path) {
  std::uint64_t hash = kFnv1aOffsetBasis;
  for (; *path != L'\0'; ++path) hash = fnv1a_step(hash, static_cast<std::uint64_t>(*path));
  return hash;
}

std::size_t slot_of(const wchar_t* path) { return path_hash(path) % kSlots; }

constexpr std::size_t kMadeSlots = 65536;
std::uint64_t g_made[kMadeSlots];  // 0: empty
std::size_t g_made_count = 0;

std::uint64_t made_hash(const wchar_t* path) { return path_hash(path) | 1; }  // never 0

}  // namespace

void made_folders_remember(const wchar_t* path) {
  if (g_made_count >= kMadeSlots / 2) return;
  const std::uint64_t hash = made_hash(path);
  std::size_t slot = hash % kMadeSlots;
  while (g_made[slot] != 0) {
    if (g_made[slot] == hash) return;
    slot = (slot + 1) % kMadeSlots;
  }
  g_made[slot] = hash;
  ++g_made_count;
}

bool made_folders_holds(const wchar_t* path) {
  const std::uint64_t hash = made_hash(path);
  for (std::size_t slot = hash % kMadeSlots; g_made[slot] != 0; slot = (slot + 1) % kMadeSlots) {
    if (g_made[slot] == hash) return true;
  }
  return false;
}

bool directory_cache_holds(const wchar_t* path) {
  for (std::size_t slot = slot_of(path); g_slots[slot] != 0; slot = (slot + 1) % kSlots) {
    if (std::wcscmp(g_directories[g_slots[slot] - 1], path) == 0) return true;
  }
  return false;
}

void directory_cache_remember(const wchar_t* path) {
  if (g_directory_count >= kDirectoryCacheCap) return;
  const std::size_t bytes = (std::wcslen(path) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(std::malloc(bytes));
  if (copy == nullptr) return;
  std::memcpy(copy, path, bytes);
  std::size_t slot = slot_of(copy);
  while (g_slots[slot] != 0) slot = (slot + 1) % kSlots;
  g_directories[g_directory_count++] = copy;
  g_slots[slot] = g_directory_count;
}

int directory_cache_count() { return g_directory_count; }

const wchar_t* directory_cache_entry(int index) {
  return index >= 0 && index < g_directory_count ? g_directories[index] : nullptr;
}

}  // namespace quorin::payload
