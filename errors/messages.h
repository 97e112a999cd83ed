// Every message the launcher can write, in one place. The texts are the
// launcher's interface: callers and scripts match them, so they stay exactly
// as they are. Pure code.
#pragma once

namespace quorin::errors {

// Plain failures: standard output, a newline, exit code 2.
inline constexpr char kSignalHandlerMessage[] = "Error, failed to register signal handler.";
inline constexpr char kHeaderMessage[] = "Error, couldn't find attached data header.";
inline constexpr char kAllocationMessage[] = "Error, couldn't allocate memory.";
inline constexpr char kDecodeMessage[] = "Error, couldn't decode attached data.";

// System failures: the message, the code and the system's text on standard
// error, exit code 2.
inline constexpr char kUnpackMessage[] = "Error, couldn't unpack file to target path.";
inline constexpr char kLaunchMessage[] = "Error, couldn't launch child";

// The system error line around a system failure's message.
inline constexpr char kSystemErrorFormat[] = "%s ([Error %ld] %s)\n";
// Its third field when the system has no text for the code.
inline constexpr char kNoSystemText[] = "unknown error";

// With a path or a spec: standard error.
inline constexpr char kOpenForWritingFormat[] = "Error, failed to open '%ls' for writing.\n";
inline constexpr char kSpecFormat[] = "Error, couldn't runtime expand spec '%ls'.\n";

}  // namespace quorin::errors
