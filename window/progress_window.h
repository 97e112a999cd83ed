// The progress window of a windowed launcher's first start: the launcher's
// icon, "Preparing <product>" and a bar of the bytes unpacked so far, shown
// only when writing the application is still going on after
// kShowAfterMilliseconds, so that a quick start never shows it. It lives on a
// thread of its own, which reads the unpacking's count and never holds up the
// main thread, and loads the common controls only when it shows. Talks to
// the system (threads, windows).
#pragma once

#include <cstdint>

namespace quorin::window {

// How long writing may take before the window shows: a start that ends
// sooner has shown the user nothing for less than the time a double-click
// waits for a program to answer.
inline constexpr unsigned long kShowAfterMilliseconds = 500;
// Once the child runs, the window waits this long at most for the child's
// first window, then goes: a child that opens none (or a slow one) is not
// covered for longer.
inline constexpr unsigned long kChildWindowWaitMilliseconds = 5000;
// How often the shown window reads the count and looks for the child's window.
inline constexpr unsigned kTickMilliseconds = 50;

// Starts the window's thread as writing begins: it waits kShowAfterMilliseconds
// for writing_ended, and only then shows the window, titled "Preparing
// <product>" as its text is, with a
// bar of payload::unpacked_bytes() against total (a moving bar when total is
// 0: no index). A thread that cannot be started, a desktop that cannot show a
// window (no window station, no display): no window, and the start goes on.
void start_progress_window(const wchar_t* product, std::uint64_t total);

// Every file is in place: a window not shown yet never shows. A shown one
// stays until the child's first window appears, kChildWindowWaitMilliseconds
// after the child started, or close_progress_window, whichever is first.
void writing_ended();

// The child has ended: the window goes now (within one tick).
void close_progress_window();

}  // namespace quorin::window
