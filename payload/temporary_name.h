// The names of the launcher's temporary files: "~quorin-<process>-<serial>.tmp",
// where a file is written before it is moved over its real name, and where a
// running program is moved aside. The name rule refuses this form in any
// letter case, so no entry can have such a name and clearing away the
// temporaries of killed runs never touches a payload file. The same holds for
// the two files every target folder holds beside the payload: its record
// and its lock. Pure code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::payload {

// "~quorin-" + 10 digits + "-" + 10 digits + ".tmp", and the terminator.
inline constexpr std::size_t kTemporaryNameCap = 8 + 10 + 1 + 10 + 4 + 1;

// Appends the temporary name of process and serial to the text in dest
// (capacity cap, terminator included; no room is a hard stop).
void append_temporary_name(wchar_t* dest, std::size_t cap, std::uint32_t process, std::uint32_t serial);

// True when component[0, len) has the temporary form in any letter case:
// "~quorin-", one or more ASCII digits, "-", one or more digits, ".tmp".
bool is_temporary_name(const wchar_t* component, std::size_t len);

// The target folder's record of the build that owns it (payload/record.h)
// and the lock file every launcher using the folder holds a lock on. Neither
// has the temporary form, so clearing away temporaries never takes them.
inline constexpr wchar_t kRecordName[] = L"~quorin-record.bin";
inline constexpr wchar_t kLockName[] = L"~quorin-lock.bin";

// True when component[0, len) is kRecordName or kLockName in any letter case.
bool is_folder_file_name(const wchar_t* component, std::size_t len);

// The process number of a temporary name that this launcher could have made
// (both numbers fit 32 bits); false for any other name.
bool temporary_name_process(const wchar_t* name, std::uint32_t& process);

}  // namespace quorin::payload
