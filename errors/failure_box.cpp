// The launcher's failure box. Talks to the system (standard handles, windows).
#include "errors/failure_box.h"

#include <windows.h>

#include <atomic>

namespace quorin::errors {

namespace {

const wchar_t* g_title = nullptr;
bool g_windowed = false;
std::atomic<bool> g_showing{false};

// A handle the line could reach. GetStdHandle gives 0 to a program started
// without one and may pass on a value that is no handle; GetFileType answers
// FILE_TYPE_UNKNOWN both for a device of no known type and for no handle at
// all, and only the second sets an error.
bool is_valid_handle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  SetLastError(NO_ERROR);
  return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

// The progress window, if it shows, would stand behind the box, still saying
// "Preparing": every visible window of this process goes first. Hidden, not
// destroyed: only its own thread may destroy it, and the process ends next.
BOOL CALLBACK hide_own_window(HWND window, LPARAM) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window)) ShowWindowAsync(window, SW_HIDE);
  return TRUE;
}

// The box's time is up. A message box runs a modal loop of its own on this
// thread, which dispatches the thread timer's WM_TIMER to this procedure; the
// WM_QUIT posted here ends that loop (a modal loop posts it again and
// returns), so the box closes as if a person had closed it. A box of our own
// would need a window class, a dialog layout and keyboard handling that
// MessageBoxW already has; MessageBoxTimeoutW is not documented.
void CALLBACK end_box(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); }

}  // namespace

void set_failure_box(const wchar_t* title, bool windowed) {
  g_title = title;
  g_windowed = windowed;
}

bool failure_box_wanted() {
  return g_windowed && !is_valid_handle(GetStdHandle(STD_OUTPUT_HANDLE)) &&
         !is_valid_handle(GetStdHandle(STD_ERROR_HANDLE));
}

bool failure_box_showing() { return g_showing.load(std::memory_order_acquire); }

void show_failure_box(const wchar_t* text) {
  // Set before the windows are hidden: a window that shows after this looks
  // at it first (window/progress_window.cpp).
  g_showing.store(true, std::memory_order_release);
  EnumWindows(hide_own_window, 0);
  // Without a timer the box would wait for a person who may never come; a
  // start without a desktop (no window station, no display) shows no box and
  // MessageBoxW returns at once.
  const UINT_PTR timer = SetTimer(nullptr, 0, kFailureBoxMilliseconds, end_box);
  if (timer == 0) return;
  MessageBoxW(nullptr, text, g_title, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
  KillTimer(nullptr, timer);
}

}  // namespace quorin::errors
