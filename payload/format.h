// The layout of the attached data, shared by the launcher (reader) and the
// packer (writer). Pure code: no system calls.
//
//   "QZ" "Y" | one zstd frame | five 0 bytes | u64 LE length of all before it
//
// The frame's content is the archive: entries of
//   name (UTF-16LE units, then a 0 unit) | u64 LE size | u32 LE checksum | data
// closed by the end marker, an empty name (one 0 unit).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::payload {

inline constexpr unsigned char kSignature[3] = {'Q', 'Z', 'Y'};
inline constexpr std::size_t kSignatureSize = 3;
inline constexpr std::size_t kTrailingZeroBytes = 5;
inline constexpr std::size_t kTrailingLengthSize = 8;

// The decoder's default limit: a frame may not declare a larger window.
inline constexpr unsigned kMaxWindowLog = 27;

// The reader's output window and the extraction's chunk.
inline constexpr std::size_t kWindowSize = 131072;
inline constexpr std::size_t kChunkSize = 32768;

// An entry name has at most 1023 units; the name buffer adds the terminator.
inline constexpr std::size_t kEntryNameCap = 1024;

// CRC-32 as zlib computes it, with 0 stored as 1: 0 means "no usable file".
inline constexpr std::uint32_t stored_checksum(std::uint32_t crc) { return crc == 0 ? 1 : crc; }

// A name the launcher can join to its target directory without leaving it:
// 1 to 1023 units; backslash-separated components; no empty component (so no
// leading, trailing or doubled backslash); no forward slash, colon (drive or
// stream) or NUL; no component made only of dots and blanks (".", "..", and
// the forms Windows trims to them, such as ". " or "...").
template <class Unit>
bool is_valid_entry_name(const Unit* name, std::size_t len) {
  if (len == 0 || len >= kEntryNameCap) return false;
  std::size_t component_len = 0;
  bool only_dots_and_blanks = true;
  for (std::size_t i = 0; i <= len; ++i) {
    const std::uint32_t unit = i < len ? static_cast<std::uint32_t>(name[i]) : '\\';
    if (unit == '\\') {
      if (component_len == 0 || only_dots_and_blanks) return false;
      component_len = 0;
      only_dots_and_blanks = true;
      continue;
    }
    if (unit == '/' || unit == ':' || unit == 0) return false;
    if (unit != '.' && unit != ' ') only_dots_and_blanks = false;
    ++component_len;
  }
  return true;
}

}  // namespace quorin::payload
