// Fatal error reporting: the one place that turns a failure into a message and
// an ending. Every reporter ends the process; none returns. The texts are in
// errors/messages.h. Each first removes the current temporary file
// (errors/temporary_file.h), so a file being written never outlives a failure.
#pragma once

namespace quorin::errors {

// Message and a newline on standard output, then exit code 2.
[[noreturn]] void fail_plain(const char* message);

// "<message> ([Error <code>] <system text>)" on standard error, then exit code 2.
[[noreturn]] void fail_system(const char* message, unsigned long code);

// "Error, failed to open '<path>' for writing." on standard error, exit code 2.
[[noreturn]] void fail_open_for_writing(const wchar_t* path);

// "Error, couldn't runtime expand spec '<spec>'." on standard error, then a hard stop.
[[noreturn]] void fail_spec(const wchar_t* spec);

// Immediate abnormal termination: no output, no exit handlers. The launcher
// and the host build (tests, fuzzing, the packer) each have their own.
[[noreturn]] void hard_stop();

// Exit code of every reported failure, and of a hard stop.
inline constexpr int kFailureExitCode = 2;
inline constexpr int kHardStopExitCode = 3;

}  // namespace quorin::errors
