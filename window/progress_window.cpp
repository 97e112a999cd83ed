// The progress window, on a thread of its own. Talks to the system (threads,
// windows, the common controls).
#include "window/progress_window.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "child/run.h"
#include "errors/failure_box.h"
#include "generated/baked_layout.h"
#include "launcher/wide_text.h"
#include "payload/unpack.h"

namespace quorin::window {

namespace {

constexpr wchar_t kClassName[] = L"QuorinProgressWindow";
constexpr wchar_t kPreparing[] = L"Preparing ";
// "Preparing " and a product text of at most kBakedTextCap units.
constexpr std::size_t kTextCap = 16 + generated::kBakedTextCap;

// The client area, in pixels at 96 DPI: the launcher declares no DPI
// awareness, so the system scales the whole window on a larger display.
//   margin, icon (32), gap, then the text above the bar, margin
constexpr int kClientWidth = 420;
constexpr int kClientHeight = 92;
constexpr int kMargin = 20;
constexpr int kIconSize = 32;
constexpr int kTextLeft = kMargin + kIconSize + 16;
constexpr int kTextWidth = kClientWidth - kTextLeft - kMargin;
constexpr int kTextHeight = 20;
constexpr int kBarTop = kMargin + kTextHeight + 10;
constexpr int kBarHeight = 16;
// The bar's steps, so that the count never needs more than 32 bits.
constexpr int kBarRange = 1000;
constexpr UINT_PTR kTickTimer = 1;
// The launcher's icon group: the packer writes the child's or the user's
// icons under this id.
constexpr WORD kIconGroupId = 1;

// The main thread's: armed as writing begins, until the thread starts.
bool g_armed = false;
ULONGLONG g_armed_at = 0;
// Written before the thread starts, read by it.
std::uint64_t g_total = 0;
wchar_t g_text[kTextCap];
// Set by the main thread when the launcher is ending.
std::atomic<bool> g_closing{false};

// The window's own thread alone uses these.
HWND g_bar = nullptr;
ULONGLONG g_child_seen_at = 0;

struct ChildSearch {
  DWORD process;
  bool found;
};

BOOL CALLBACK find_child_window(HWND window, LPARAM search_address) {
  auto& search = *reinterpret_cast<ChildSearch*>(search_address);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search.process || !IsWindowVisible(window)) return TRUE;
  search.found = true;
  return FALSE;
}

bool child_has_window(DWORD process) {
  ChildSearch search{process, false};
  EnumWindows(find_child_window, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void update_bar() {
  if (g_total == 0 || g_bar == nullptr) return;  // a moving bar, or none: nothing to count against
  const std::uint64_t done = payload::unpacked_bytes();
  const int position = done >= g_total ? kBarRange
                                       : static_cast<int>(static_cast<double>(done) / static_cast<double>(g_total) *
                                                          kBarRange);
  SendMessageW(g_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// Every tick: the bar, then whether the window's time is over. It goes when
// the launcher ends or fails, when the child's first window is there, or when the
// child has run for kChildWindowWaitMilliseconds without one.
void on_tick(HWND window) {
  if (g_closing.load(std::memory_order_relaxed) || errors::failure_box_showing()) {
    DestroyWindow(window);
    return;
  }
  update_bar();
  const unsigned long child = child::started_child_id();
  if (child == 0) return;
  const ULONGLONG now = GetTickCount64();
  if (g_child_seen_at == 0) g_child_seen_at = now;
  if (child_has_window(child) || now - g_child_seen_at >= kChildWindowWaitMilliseconds) DestroyWindow(window);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      if (wparam == kTickTimer) on_tick(window);
      return 0;
    case WM_CLOSE:
      // Alt+F4 would only hide what is still going on: the window goes with
      // the writing and the child's start, not before.
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

HWND make_control(HWND parent, const wchar_t* control_class, DWORD style, int x, int y, int width, int height) {
  return CreateWindowExW(0, control_class, nullptr, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

// The progress bar's class lives in the common controls, which a start that
// shows no window never loads: loaded here, version 6 by the launcher's
// manifest, so the bar has the system's look.
bool load_progress_class() {
  HMODULE controls = LoadLibraryW(L"comctl32.dll");
  if (controls == nullptr) return false;
  using InitControls = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init =
      reinterpret_cast<InitControls>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
  if (init == nullptr) return false;
  INITCOMMONCONTROLSEX wanted{sizeof wanted, ICC_PROGRESS_CLASS};
  return init(&wanted) != FALSE;
}

HICON load_icon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconGroupId), IMAGE_ICON, size,
                                       size, LR_DEFAULTCOLOR));
}

// Makes and shows the window; nullptr when the desktop cannot show one.
HWND show_window() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HICON icon = load_icon(GetSystemMetrics(SM_CXICON));
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = icon;
  window_class.hIconSm = load_icon(GetSystemMetrics(SM_CXSMICON));
  // The arrow with the hourglass: the program is starting. IDC_APPSTARTING
  // is a narrow resource name in a build without UNICODE.
  window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32650));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kClassName;
  if (RegisterClassExW(&window_class) == 0) return nullptr;

  // A title bar without a system menu has no buttons: nothing to press that
  // would stop the start halfway.
  const DWORD style = WS_POPUP | WS_CAPTION;
  const DWORD ex_style = WS_EX_APPWINDOW;
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + (work.right - work.left - width) / 2;
  const int y = work.top + (work.bottom - work.top - height) / 2;
  // Fails without a window station or a display (Wine without $DISPLAY),
  // cheaply: the common controls (25 ms of loading under Wine 8.0) are
  // loaded only for a window that can show.
  HWND window = CreateWindowExW(ex_style, kClassName, g_text, style, x, y, width, height, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) return nullptr;
  if (!load_progress_class()) {
    DestroyWindow(window);
    return nullptr;
  }

  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  HFONT font = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)
                   ? CreateFontIndirectW(&metrics.lfMessageFont)
                   : nullptr;
  HWND picture = make_control(window, L"STATIC", SS_ICON, kMargin, kMargin, kIconSize, kIconSize);
  if (picture != nullptr && icon != nullptr) SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
  HWND text = make_control(window, L"STATIC", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, kTextLeft, kMargin, kTextWidth,
                           kTextHeight);
  if (text != nullptr) {
    SetWindowTextW(text, g_text);
    if (font != nullptr) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  g_bar = make_control(window, PROGRESS_CLASSW, g_total == 0 ? PBS_MARQUEE : 0, kTextLeft, kBarTop, kTextWidth,
                       kBarHeight);
  if (g_bar != nullptr) {
    SendMessageW(g_bar, PBM_SETRANGE32, 0, kBarRange);
    if (g_total == 0) SendMessageW(g_bar, PBM_SETMARQUEE, TRUE, 30);
    update_bar();
  }
  SetTimer(window, kTickTimer, kTickMilliseconds, nullptr);
  // A failure box that came up while the window was being made hid every
  // window there was: this one stays hidden, and goes at its first tick.
  if (errors::failure_box_showing()) return window;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return window;
}

// A launcher its starter asked to run hidden (a script's hidden start, a
// scheduled task) shows nothing of its own either.
bool started_hidden() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
}

DWORD WINAPI run_progress_window(void*) {
  if (started_hidden() || show_window() == nullptr) return 0;
  MSG message;
  // GetMessageW gives 0 for WM_QUIT and -1 for a failure: both end the loop.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

void arm_progress_window(const wchar_t* product, std::uint64_t total) {
  g_total = total;
  launcher::copy_text(g_text, kTextCap, kPreparing);
  launcher::append_text(g_text, kTextCap, product);
  g_armed_at = GetTickCount64();
  g_armed = true;
}

void show_progress_when_due() {
  // GetTickCount64 reads the system's tick count from memory: a check that
  // costs nothing beside the writing of a piece.
  if (!g_armed || GetTickCount64() - g_armed_at < kShowAfterMilliseconds) return;
  g_armed = false;
  HANDLE thread = CreateThread(nullptr, 0, run_progress_window, nullptr, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

void close_progress_window() {
  g_armed = false;
  g_closing.store(true, std::memory_order_relaxed);
}

}  // namespace quorin::window
