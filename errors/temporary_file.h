// The launcher's current temporary file: the one file it is writing before it
// takes its real name. Every fatal reporter and the hard stop remove it before
// the process ends, so no path out leaves it behind. Main thread only. The
// launcher's version closes and deletes the file; the host build makes no
// temporary files, and its removal does nothing.
#pragma once

namespace quorin::errors {

// From now on path (a buffer that stays valid) names the current temporary
// file, open through handle (the system's file handle).
void hold_temporary_file(const wchar_t* path, void* handle);

// The file took its real name or was removed: nothing is current any more.
void forget_temporary_file();

// Also runs remove (once) when the current temporary file is removed on the
// way out: files handed to other threads go with it.
void on_failure_also_remove(void (*remove)());

// Closes and deletes the current temporary file, if any. Called by the
// reporters; the launcher's own paths call it as well.
void remove_temporary_file();

}  // namespace quorin::errors
