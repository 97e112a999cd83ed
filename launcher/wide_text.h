// Bounded copies into fixed UTF-16 buffers, and small path cuts.
// Pure code: no system calls. Running out of room is a hard stop, never a cut.
//
// Every capacity counts UTF-16 units with the terminator included, so a buffer
// of capacity N holds at most N - 1 units of text; the destination is
// NUL-terminated after every unit written.
#pragma once

#include <cstddef>

namespace quorin::launcher {

inline constexpr std::size_t kPathCap = 4096;
inline constexpr std::size_t kOwnPathCap = 4097;
inline constexpr std::size_t kNameCap = 1024;
inline constexpr std::size_t kEnvValueCap = 32768;
inline constexpr std::size_t kEnvNameCap = 40;
inline constexpr std::size_t kNumberTextCap = 128;

// Length of dest's text, counted against cap; a hard stop when no terminator
// lies within cap units.
std::size_t bounded_length(const wchar_t* dest, std::size_t cap);

// Appends one unit after the text already in dest.
void append_unit(wchar_t* dest, std::size_t cap, wchar_t unit);

// Appends one unit at dest[len], where the caller keeps len as the length of
// dest's text, and advances len. For long texts built unit by unit.
void put_unit(wchar_t* dest, std::size_t cap, std::size_t& len, wchar_t unit);

// Appends src after the text already in dest.
void append_text(wchar_t* dest, std::size_t cap, const wchar_t* src);

// Replaces dest's text with src.
void copy_text(wchar_t* dest, std::size_t cap, const wchar_t* src);

// Replaces the last backslash with the terminator; no backslash, no change.
void cut_at_last_backslash(wchar_t* path);

// A..Z to a..z, every other unit as it is: the launcher's own names (device
// names, its temporaries) are ASCII and compared in any letter case.
inline constexpr wchar_t ascii_lower(wchar_t unit) {
  return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
}

}  // namespace quorin::launcher
