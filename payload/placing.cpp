// Placing written files on threads of their own. Talks to the system
// (threads, files).
#include "payload/placing.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "errors/fatal.h"
#include "errors/temporary_file.h"
#include "launcher/wide_text.h"

namespace quorin::payload {

namespace {

using launcher::kPathCap;

// A slot is free, being written by the main thread, handed over, or being
// placed by a placing thread. Only its owner of the moment touches its file.
enum SlotState : unsigned char { kFree, kWriting, kHandedOver, kPlacing };

StagedFile g_files[kPlacingSlotCount];
SlotState g_states[kPlacingSlotCount];
// The order in which the files were handed out, so that of several failures
// the first in the archive's order is the one reported.
std::uint64_t g_orders[kPlacingSlotCount];
std::uint64_t g_next_order = 0;

// The slots, the failure and the ending are guarded by one lock; waiting
// threads sleep on the two conditions (under Wine on a futex, with no round
// trip to the server per file).
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_handed_over = CONDITION_VARIABLE_INIT;
CONDITION_VARIABLE g_freed = CONDITION_VARIABLE_INIT;
bool g_ending = false;

bool g_failed = false;
std::uint64_t g_failed_order = 0;
wchar_t g_failed_path[kPathCap];

bool g_threads_tried = false;
HANDLE g_threads[kPlacingThreadCap];
unsigned g_thread_count = 0;
// The main thread's own room, for placing when no thread could be started.
PlacingRoom g_main_room;

// A placing thread's stack: its room (about 17 KiB) and the system's calls,
// reserved, not committed.
constexpr SIZE_T kPlacingStackSize = 256 * 1024;

std::size_t slot_of(const StagedFile& file) { return static_cast<std::size_t>(&file - g_files); }

// The slot handed over first among those waiting; kPlacingSlotCount for none.
std::size_t oldest_handed_over() {
  std::size_t oldest = kPlacingSlotCount;
  for (std::size_t s = 0; s < kPlacingSlotCount; ++s) {
    if (g_states[s] == kHandedOver && (oldest == kPlacingSlotCount || g_orders[s] < g_orders[oldest])) oldest = s;
  }
  return oldest;
}

bool any_slot_is(SlotState a, SlotState b) {
  for (std::size_t s = 0; s < kPlacingSlotCount; ++s) {
    if (g_states[s] == a || g_states[s] == b) return true;
  }
  return false;
}

// Under the lock.
void note_failure(std::size_t slot) {
  if (g_failed && g_failed_order < g_orders[slot]) return;
  g_failed = true;
  g_failed_order = g_orders[slot];
  launcher::copy_text(g_failed_path, kPathCap, g_files[slot].path);
}

DWORD WINAPI place_files(void*) {
  PlacingRoom room{};
  AcquireSRWLockExclusive(&g_lock);
  for (;;) {
    const std::size_t slot = oldest_handed_over();
    if (slot == kPlacingSlotCount) {
      if (g_ending) break;
      SleepConditionVariableSRW(&g_handed_over, &g_lock, INFINITE, 0);
      continue;
    }
    g_states[slot] = kPlacing;
    ReleaseSRWLockExclusive(&g_lock);
    const bool placed = place_staged_file(g_files[slot], room);
    AcquireSRWLockExclusive(&g_lock);
    if (!placed) note_failure(slot);
    g_states[slot] = kFree;
    WakeAllConditionVariable(&g_freed);
  }
  ReleaseSRWLockExclusive(&g_lock);
  std::free(room.check_buffer);
  return 0;
}

// A start that fails after handing files over still places them: each is
// whole and verified, and would have been in place before the failure had
// the main thread placed it. No temporary file of this run stays behind.
void place_handed_over_files() {
  AcquireSRWLockExclusive(&g_lock);
  while (any_slot_is(kHandedOver, kPlacing)) SleepConditionVariableSRW(&g_freed, &g_lock, INFINITE, 0);
  ReleaseSRWLockExclusive(&g_lock);
}

unsigned placing_thread_count() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const unsigned processors = system.dwNumberOfProcessors > 0 ? system.dwNumberOfProcessors : 1;
  return processors < kPlacingThreadCap ? processors : kPlacingThreadCap;
}

// The threads start when the first file is to be written: a start that
// writes nothing starts none. One that cannot be started leaves its share to
// the others, and with none the main thread places every file itself.
void start_placing_threads() {
  g_threads_tried = true;
  errors::on_failure_also_remove(place_handed_over_files);
  const unsigned wanted = placing_thread_count();
  for (unsigned t = 0; t < wanted; ++t) {
    HANDLE thread = CreateThread(nullptr, kPlacingStackSize, place_files, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr) g_threads[g_thread_count++] = thread;
  }
}

// Reports the failure noted by a placing thread, if any; under the lock.
void report_noted_failure() {
  if (!g_failed) return;
  ReleaseSRWLockExclusive(&g_lock);
  errors::fail_open_for_writing(g_failed_path);
}

}  // namespace

StagedFile& next_staged_file() {
  if (!g_threads_tried) start_placing_threads();
  AcquireSRWLockExclusive(&g_lock);
  for (;;) {
    report_noted_failure();
    for (std::size_t s = 0; s < kPlacingSlotCount; ++s) {
      if (g_states[s] != kFree) continue;
      g_states[s] = kWriting;
      g_orders[s] = g_next_order++;
      ReleaseSRWLockExclusive(&g_lock);
      return g_files[s];
    }
    SleepConditionVariableSRW(&g_freed, &g_lock, INFINITE, 0);
  }
}

void hand_over(StagedFile& file) {
  // From here the placing owns the temporary file: a failure meanwhile
  // waits for it to be placed (place_handed_over_files).
  const std::size_t slot = slot_of(file);
  AcquireSRWLockExclusive(&g_lock);
  errors::forget_temporary_file();
  if (g_thread_count > 0) {
    g_states[slot] = kHandedOver;
    WakeConditionVariable(&g_handed_over);
    ReleaseSRWLockExclusive(&g_lock);
    return;
  }
  ReleaseSRWLockExclusive(&g_lock);
  const bool placed = place_staged_file(file, g_main_room);
  g_states[slot] = kFree;
  if (!placed) errors::fail_open_for_writing(file.path);
}

void finish_placing() {
  if (!g_threads_tried) return;
  place_handed_over_files();
  AcquireSRWLockExclusive(&g_lock);
  g_ending = true;
  WakeAllConditionVariable(&g_handed_over);
  ReleaseSRWLockExclusive(&g_lock);
  if (g_thread_count > 0) WaitForMultipleObjects(g_thread_count, g_threads, TRUE, INFINITE);
  for (unsigned t = 0; t < g_thread_count; ++t) CloseHandle(g_threads[t]);
  g_thread_count = 0;
  AcquireSRWLockExclusive(&g_lock);
  report_noted_failure();
  ReleaseSRWLockExclusive(&g_lock);
}

}  // namespace quorin::payload
