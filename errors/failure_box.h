// The failure box: a fatal error's line shown in a window, for the one case in
// which no one would see it otherwise, a windowed launcher started with
// neither standard output nor standard error (a double-click in Explorer).
// With a console or a redirection, the line alone, as always. The launcher's
// version talks to the system; the host build's shows nothing.
#pragma once

#include "errors/failure_text.h"

namespace quorin::errors {

// The box closes by itself after this long, so an unattended start that
// fails still ends.
inline constexpr unsigned kFailureBoxMilliseconds = 60000;

// From now on: the box's title (a text that stays valid: the product's
// name; without one, the system's own title), and whether the process is a
// windowed (GUI-subsystem) program, which alone may want a box. Until this is
// called, no box is wanted.
void set_failure_box(const wchar_t* title, bool windowed);

// True when a failure's line would reach no one: the process is a windowed
// program and neither its standard output nor its standard error is a valid
// handle.
bool failure_box_wanted();

// Shows text in a box titled as set, and returns once it is closed, by a
// person or by its time. Any window of the launcher's own (the progress
// window) is hidden first.
void show_failure_box(const wchar_t* text);

// True from the moment a failure box is about to show: another thread's
// window (the progress window) must not show or stay in front of it. Any thread.
bool failure_box_showing();

// The reporters' call, after they have written their line: when a box is
// wanted, shows the line that format and args give (errors/failure_text.h).
// Pure code over the two above.
void show_failure_line(const char* format, const FailureArgs& args);

}  // namespace quorin::errors
