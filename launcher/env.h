// Environment and path helpers shared by the start-up sequence, the expander
// and the child launch. Talks to the system (environment, module path, shell folders).
#pragma once

#include <cstddef>

namespace quorin::launcher {

// A heap copy of the variable's value, kept by the caller for the rest of the
// process; nullptr when the variable is absent, empty or does not fit 32,767 units.
wchar_t* env_get_w(const wchar_t* name);
wchar_t* env_get(const char* name);

// Results are not examined by any caller.
void env_set(const char* name, const wchar_t* value);
void env_unset(const char* name);

// The launcher's own executable path, asked of the system once per process.
const wchar_t* own_path();

// The launcher's process id as decimal text ("%ld"), widened into dest
// (kNumberTextCap units): QUORIN_ONEFILE_PARENT and the PID placeholder.
void process_id_text(wchar_t* dest);

// Resolves path (a kPathCap buffer) to a full path in place; hard stop when the
// system refuses it or the result does not fit.
void make_absolute(wchar_t* path);

// Appends the shell folder's current path to dest (cap counts the whole of
// dest); false, and dest unchanged, when the folder cannot be had.
bool append_folder(wchar_t* dest, int folder_id, std::size_t cap);

inline constexpr int kFolderProfile = 40;          // CSIDL_PROFILE
inline constexpr int kFolderLocalAppData = 28;     // CSIDL_LOCAL_APPDATA

}  // namespace quorin::launcher
