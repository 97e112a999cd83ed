// The progress window of a windowed launcher's first start: the launcher's
// icon, "Preparing <product>" and a bar of the bytes unpacked so far, shown
// only when writing the application is still going on after
// kShowAfterMilliseconds, so that a quick start never shows it. It lives on a
// thread of its own, started only then, which reads the unpacking's count
// and never holds up the main thread; a quick start starts no thread and
// loads nothing. Talks to the system (threads, windows).
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

// Writing begins: from now on the window is due after kShowAfterMilliseconds,
// titled "Preparing <product>" as its text is, with a bar of
// payload::unpacked_bytes() against total (a moving bar when total is 0: no
// index). Starts nothing.
void arm_progress_window(const wchar_t* product, std::uint64_t total);

// Called by the main thread as it writes (after every piece): once the window
// is due, starts its thread, which shows it. A thread that cannot be started,
// a desktop that cannot show a window (no window station, no display), a
// launcher started hidden: no window, and the start goes on.
void show_progress_when_due();

// The child has ended: a shown window goes now (within one tick). It goes by
// itself before, once the child's first window appears or
// kChildWindowWaitMilliseconds after the child started.
void close_progress_window();

}  // namespace quorin::window
