// Closing placed files on worker threads. A file that has taken its real name
// is whole and verified; closing it is all that is left, and on a machine
// with an on-access scanner that is where the scanner reads it, so the close
// goes to a thread of its own while the main thread decodes the next file.
// Talks to the system (handles, threads).
#pragma once

namespace quorin::payload {

// At most this many threads close files; at most this many handles wait.
inline constexpr unsigned kCloseThreadCap = 4;
inline constexpr unsigned kCloseQueueCap = 256;

// Hands the handle of a placed file to a closing thread (started on first
// use, one per processor the process may use up to the cap, none when it may
// use one); closes it at once when no thread can be had or the queue is
// full. Main thread only.
void close_later(void* handle);

// Waits until every handed handle is closed and the closing threads have
// ended. Before the child starts.
void close_all_pending();

}  // namespace quorin::payload
