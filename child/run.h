// Running the child program: launch with the launcher's standard handles and
// environment, unlimited wait, exit code; and the answer to console control
// events. Talks to the system.
#pragma once

namespace quorin::child {

// Starts launcher::g_child_program_path with the child command line, waits for
// it and returns its exit code (1 when it cannot be queried). "Error, couldn't
// launch child" with the system error when it cannot be started.
// while_child_runs, when given, is called once the child has started, before
// the wait: work that need not delay the child.
unsigned long run_child(void (*while_child_runs)() = nullptr);

// The process id of the child run_child has started; 0 before. Read from any
// thread (the progress window looks for the child's first window by it).
unsigned long started_child_id();

// Gives a running child 5000 ms to end, then terminates it with exit code 0.
// Does nothing when no child is held.
void stop_child();

// Registered with SetConsoleCtrlHandler. Stops the child for Ctrl+C,
// Ctrl+Break, close, logoff and shutdown; always returns false, so the
// system's default handling then ends the launcher.
int __stdcall console_control_handler(unsigned long event_type);

inline constexpr unsigned long kStopGraceMilliseconds = 5000;

}  // namespace quorin::child
