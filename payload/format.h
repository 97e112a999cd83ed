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

// True when the attached data starts with the signature, letter case counting.
inline constexpr bool has_signature(const unsigned char* data, std::uint64_t length) {
  if (length < kSignatureSize) return false;
  for (std::size_t i = 0; i < kSignatureSize; ++i) {
    if (data[i] != kSignature[i]) return false;
  }
  return true;
}
inline constexpr std::size_t kTrailingZeroBytes = 5;
inline constexpr std::size_t kTrailingLengthSize = 8;

// The decoder's default limit: a frame may not declare a larger window.
inline constexpr unsigned kMaxWindowLog = 27;

// The reader's output window.
inline constexpr std::size_t kWindowSize = 131072;

// An entry name has at most 1023 units; the name buffer adds the terminator.
inline constexpr std::size_t kEntryNameCap = 1024;

// The fixed fields after a name: the size, then the checksum.
inline constexpr std::size_t kSizeFieldSize = 8;
inline constexpr std::size_t kChecksumFieldSize = 4;

// Little-endian fields, whatever the machine's own order.
inline constexpr std::uint64_t decode_u64_le(const unsigned char* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

inline constexpr std::uint32_t decode_u32_le(const unsigned char* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace quorin::payload
