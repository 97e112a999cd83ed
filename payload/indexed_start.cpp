// A start from the archive's index. Talks to the system (files, threads).
#include "payload/indexed_start.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "payload/file_checksum.h"
#include "payload/index.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

const unsigned char* g_index = nullptr;
std::uint64_t g_count = 0;
std::uint64_t g_data_bytes = 0;
// Where each entry starts in the index, so that any thread can read any
// entry; and what the check found (kCurrent, or 0: not current). Heap
// arrays of g_count items, kept for the rest of the process.
std::uint64_t* g_offsets = nullptr;
unsigned char* g_current = nullptr;
// The next entry a thread takes; every thread takes entries until none is left.
volatile LONG64 g_next = 0;
constexpr unsigned char kCurrent = 1;
// A checking thread's stack: its path and entry (about 10 KiB) and the
// system's calls, reserved, not committed.
constexpr SIZE_T kCheckStackSize = 256 * 1024;

// dest = the target directory, a backslash and the entry's name.
void join_target(wchar_t* dest, const IndexEntry& entry) {
  launcher::copy_text(dest, kPathCap, launcher::g_target_directory);
  launcher::append_unit(dest, kPathCap, L'\\');
  launcher::append_text(dest, kPathCap, entry.name);
}

// Checks entries until none is left. Each thread has its own read buffer,
// path and entry; a buffer that cannot be had leaves the entries it would
// have checked "not current", and the decoding path checks them again.
DWORD WINAPI check_entries(void*) {
  unsigned char* buffer = static_cast<unsigned char*>(std::malloc(kReadCheckCap));
  wchar_t path[kPathCap];
  IndexEntry entry;
  for (;;) {
    const LONG64 i = InterlockedIncrement64(&g_next) - 1;
    if (static_cast<std::uint64_t>(i) >= g_count) break;
    if (buffer == nullptr) continue;
    index_read_entry(g_index, g_offsets[i], entry);
    join_target(path, entry);
    g_current[i] = file_checksum(path, entry.size, buffer) == entry.stored_checksum ? kCurrent : 0;
  }
  std::free(buffer);
  return 0;
}

unsigned check_thread_count() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  unsigned threads = system.dwNumberOfProcessors > 0 ? system.dwNumberOfProcessors : 1;
  if (threads > kCheckThreadCap) threads = kCheckThreadCap;
  // A thread for fewer than a handful of files costs more than it saves.
  const std::uint64_t useful = g_count / 4 + 1;
  if (threads > useful) threads = static_cast<unsigned>(useful);
  return threads;
}

}  // namespace

bool index_take(const unsigned char* data, std::uint64_t length, std::uint64_t attached_length) {
  if (data == nullptr || length == 0) return false;
  IndexHeader header;
  if (index_check(data, length, header) != IndexProblem::kNone || header.attached_bytes != attached_length) {
    return false;
  }
  // The count is bounded by the index's length (index_check), so the tables fit what it holds.
  auto* offsets = static_cast<std::uint64_t*>(std::calloc(header.entries + 1, sizeof(std::uint64_t)));
  auto* current = static_cast<unsigned char*>(std::calloc(header.entries + 1, 1));
  if (offsets == nullptr || current == nullptr) {
    std::free(offsets);
    std::free(current);
    return false;
  }
  IndexEntry entry;
  std::uint64_t offset = kIndexHeaderSize;
  for (std::uint64_t i = 0; i < header.entries; ++i) {
    offsets[i] = offset;
    offset = index_read_entry(data, offset, entry);
  }
  g_index = data;
  g_count = header.entries;
  g_data_bytes = header.data_bytes;
  g_offsets = offsets;
  g_current = current;
  return true;
}

bool index_held() { return g_index != nullptr; }

std::uint64_t index_data_bytes() { return g_data_bytes; }

bool check_files_from_index() {
  if (g_count > 0) {
    IndexEntry first;
    index_read_entry(g_index, g_offsets[0], first);
    join_target(launcher::g_child_program_path, first);
  }
  // The main thread checks too; a thread that cannot be started leaves its
  // share to the others.
  HANDLE threads[kCheckThreadCap];
  unsigned started = 0;
  const unsigned wanted = check_thread_count();
  for (unsigned t = 1; t < wanted; ++t) {
    HANDLE thread = CreateThread(nullptr, kCheckStackSize, check_entries, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr) threads[started++] = thread;
  }
  check_entries(nullptr);
  if (started > 0) WaitForMultipleObjects(started, threads, TRUE, INFINITE);
  for (unsigned t = 0; t < started; ++t) CloseHandle(threads[t]);
  for (std::uint64_t i = 0; i < g_count; ++i) {
    if (g_current[i] != kCurrent) return false;
  }
  return true;
}

std::uint64_t index_entry_count() { return g_count; }

bool index_file_current(std::uint64_t i) { return i < g_count && g_current[i] == kCurrent; }

bool index_entry_matches(std::uint64_t i, const EntryHeader& header) {
  if (i >= g_count) return false;
  IndexEntry entry;
  index_read_entry(g_index, g_offsets[i], entry);
  return entry.name_len == header.name_len && entry.size == header.size &&
         entry.stored_checksum == header.stored_checksum &&
         std::wmemcmp(entry.name, header.name, header.name_len) == 0;
}

}  // namespace quorin::payload
