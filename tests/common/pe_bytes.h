// The smallest file the packer takes for a child program: the headers of a
// Windows x64 executable (PE32+ for AMD64, a GUI program unless subsystem
// says otherwise) and no sections, then any bytes.
// Not runnable; for host tests that only pack. Pure code.
#pragma once

#include <cstdint>
#include <string>

#include "tests/common/archive_bytes.h"

namespace quorin::test_archive {

inline std::string program_bytes(const std::string& rest = "", std::uint16_t machine = 0x8664,
                                 std::uint16_t magic = 0x20B, std::uint16_t characteristics = 0x0022,
                                 std::uint16_t subsystem = 2) {
  std::string out(0x40, '\0');
  out[0] = 'M';
  out[1] = 'Z';
  out[0x3C] = 0x40;  // e_lfanew
  out += std::string("PE\0\0", 4);
  put_le(out, machine, 2);
  put_le(out, 0, 2);     // no sections
  put_le(out, 0, 12);    // time stamp, symbols
  put_le(out, 240, 2);   // the PE32+ optional header
  put_le(out, characteristics, 2);
  std::string optional(240, '\0');
  optional[0] = static_cast<char>(magic & 0xFF);
  optional[1] = static_cast<char>(magic >> 8);
  optional[68] = static_cast<char>(subsystem);  // 2 Windows GUI, 3 console
  optional[108] = 16;  // data directories
  return out + optional + rest;
}

}  // namespace quorin::test_archive
