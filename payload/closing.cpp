// Closing placed files on worker threads. Talks to the system.
#include "payload/closing.h"

#include <windows.h>

namespace quorin::payload {

namespace {

// A ring of handles: the main thread puts, the closing threads take.
// Invariant: g_taken <= g_put <= g_taken + kCloseQueueCap, both only grow.
HANDLE g_queue[kCloseQueueCap];
unsigned long long g_put = 0;
unsigned long long g_taken = 0;
bool g_ending = false;
CRITICAL_SECTION g_lock;
// Signalled once for every kCloseBatch handles put, and once for each thread
// at the end; a thread that wakes closes every handle waiting. Under Wine
// each signal and each wait is a round trip to the server, as a close is.
HANDLE g_ready = nullptr;
unsigned g_unsignalled = 0;
constexpr unsigned kCloseBatch = 16;
HANDLE g_threads[kCloseThreadCap];
unsigned g_thread_count = 0;
bool g_started = false;

DWORD WINAPI close_handles(void*) {
  for (;;) {
    WaitForSingleObject(g_ready, INFINITE);
    // Every handle waiting, then back to sleep; after the end has been
    // signalled, the thread ends once nothing waits. Each thread is woken
    // once more at the end, so none sleeps for ever.
    for (;;) {
      EnterCriticalSection(&g_lock);
      if (g_taken == g_put) {
        const bool ending = g_ending;
        LeaveCriticalSection(&g_lock);
        if (ending) return 0;
        break;
      }
      HANDLE handle = g_queue[g_taken % kCloseQueueCap];
      ++g_taken;
      LeaveCriticalSection(&g_lock);
      CloseHandle(handle);
    }
  }
}

// The processors this process may run on: a launcher held to one processor
// gains nothing from a closing thread that takes turns with it.
unsigned usable_processors() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
  unsigned count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}

// Starts the closing threads; false when none could be started.
bool start_threads() {
  g_started = true;
  InitializeCriticalSection(&g_lock);
  g_ready = CreateSemaphoreW(nullptr, 0, kCloseQueueCap + kCloseThreadCap, nullptr);
  if (g_ready == nullptr) return false;
  const unsigned processors = usable_processors();
  if (processors < 2) return false;
  const unsigned wanted = processors < kCloseThreadCap ? processors : kCloseThreadCap;
  // A small stack: the thread holds nothing but a handle.
  for (unsigned i = 0; i < wanted; ++i) {
    HANDLE thread = CreateThread(nullptr, 64 * 1024, close_handles, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr) g_threads[g_thread_count++] = thread;
  }
  return g_thread_count > 0;
}

}  // namespace

void close_later(void* handle) {
  if (!g_started) start_threads();
  if (g_thread_count == 0) {
    CloseHandle(handle);
    return;
  }
  EnterCriticalSection(&g_lock);
  const bool full = g_put - g_taken >= kCloseQueueCap;
  if (!full) g_queue[g_put++ % kCloseQueueCap] = handle;
  LeaveCriticalSection(&g_lock);
  if (full) {
    CloseHandle(handle);
    return;
  }
  if (++g_unsignalled >= kCloseBatch) {
    g_unsignalled = 0;
    ReleaseSemaphore(g_ready, 1, nullptr);
  }
}

void close_all_pending() {
  if (g_thread_count == 0) return;
  EnterCriticalSection(&g_lock);
  g_ending = true;
  LeaveCriticalSection(&g_lock);
  // One more wake-up per thread: each takes what is left, then finds the
  // queue empty and ends.
  ReleaseSemaphore(g_ready, static_cast<LONG>(g_thread_count), nullptr);
  WaitForMultipleObjects(g_thread_count, g_threads, TRUE, INFINITE);
  for (unsigned i = 0; i < g_thread_count; ++i) CloseHandle(g_threads[i]);
  g_thread_count = 0;
}

}  // namespace quorin::payload
