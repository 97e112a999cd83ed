// The smallest file the packer takes for a child program: the headers of a
// Windows x64 executable (PE32+ for AMD64, a GUI program unless subsystem
// says otherwise) and no sections, then any bytes; and one that imports DLLs.
// Not runnable; for host tests that only pack. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Where image_with_imports puts its one section, .idata, in the file and in
// the image, and the import descriptors at its start, then the delay-load
// descriptors, then the names.
inline constexpr std::size_t kImportSectionOffset = 0x200;
inline constexpr std::uint32_t kImportSectionRva = 0x1000;

// A Windows image (an x64 program, or a DLL with characteristics 0x2022)
// whose import table names imports and whose delay-load table (RVA-based
// descriptors) names delayed; each table is left out when its list is empty.
inline std::string image_with_imports(const std::vector<std::string>& imports,
                                      const std::vector<std::string>& delayed = {},
                                      std::uint16_t characteristics = 0x0022) {
  const std::size_t descriptors = 20 * (imports.size() + 1), delay_descriptors = 32 * (delayed.size() + 1);
  const std::uint32_t thunk = kImportSectionRva;  // an empty address table: 8 zero bytes before the descriptors
  const std::uint32_t table = kImportSectionRva + 8;
  std::string section(8 + descriptors + delay_descriptors, '\0');
  std::string names;
  auto name_rva = [&](const std::string& name) {
    const std::uint32_t rva = static_cast<std::uint32_t>(table + descriptors + delay_descriptors + names.size());
    names += name + std::string(1, '\0');
    return rva;
  };
  std::string import_table, delay_table;
  for (const std::string& name : imports) {
    put_le(import_table, 0, 12);  // OriginalFirstThunk, TimeDateStamp, ForwarderChain
    put_le(import_table, name_rva(name), 4);
    put_le(import_table, thunk, 4);
  }
  for (const std::string& name : delayed) {
    put_le(delay_table, 1, 4);  // the fields are RVAs
    put_le(delay_table, name_rva(name), 4);
    put_le(delay_table, 0, 24);
  }
  section.replace(8, import_table.size(), import_table);
  section.replace(8 + descriptors, delay_table.size(), delay_table);
  section += names;
  section.resize((section.size() + 0x1FF) / 0x200 * 0x200, '\0');

  std::string out = program_bytes("", 0x8664, 0x20B, characteristics);
  out[0x46] = 1;  // one section
  const std::size_t directories = 0x40 + 24 + 112;
  const auto set_directory = [&](int index, std::uint32_t rva, std::size_t size) {
    std::string field;
    put_le(field, rva, 4);
    put_le(field, size, 4);
    out.replace(directories + 8 * index, 8, field);
  };
  if (!imports.empty()) set_directory(1, table, descriptors);
  if (!delayed.empty()) set_directory(13, table + static_cast<std::uint32_t>(descriptors), delay_descriptors);
  std::string header = ".idata";
  header.resize(8, '\0');
  put_le(header, section.size(), 4);  // VirtualSize
  put_le(header, kImportSectionRva, 4);
  put_le(header, section.size(), 4);  // SizeOfRawData
  put_le(header, kImportSectionOffset, 4);
  put_le(header, 0, 12);
  put_le(header, 0xC0000040, 4);  // initialised data, readable, writable
  out += header;
  out.resize(kImportSectionOffset, '\0');
  return out + section;
}

}  // namespace quorin::test_archive
