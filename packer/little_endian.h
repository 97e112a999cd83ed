// Little-endian fields of the formats the packer reads and writes (PE
// headers, resources, icons, the archive). Pure code.
#pragma once

#include <cstdint>
#include <string>

namespace quorin::packer {

// The field of `bytes` bytes (at most 8) at `at`.
inline std::uint64_t read_le(const unsigned char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

inline std::uint64_t read_le(const std::string& in, std::size_t at, int bytes) {
  return read_le(reinterpret_cast<const unsigned char*>(in.data()) + at, bytes);
}

// Writes the field in place.
inline void set_le(unsigned char* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

// Appends the field.
inline void put_le(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace quorin::packer
