// Reading the headers of a PE file (a Windows program): the parts the packer
// needs to write a launcher from the stub, to find the attached data in a
// launcher, and to check that a child is a Windows x64 program. Pure code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/result.h"

namespace quorin::packer {

struct PeSection {
  std::string name;  // up to 8 characters
  std::uint32_t virtual_size = 0;
  std::uint32_t rva = 0;
  std::uint32_t raw_size = 0;
  std::uint32_t raw_offset = 0;
  std::uint32_t characteristics = 0;
};

struct PeDirectory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

inline constexpr int kDirectoryImport = 1;
inline constexpr int kDirectoryResource = 2;
inline constexpr int kDirectorySecurity = 4;
inline constexpr int kDirectoryBaseRelocation = 5;
inline constexpr int kDirectoryDelayImport = 13;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMagicPe32 = 0x10B;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B;
inline constexpr std::uint16_t kSubsystemWindowsGui = 2;
inline constexpr std::uint16_t kSubsystemWindowsConsole = 3;

struct PeImage {
  std::uint32_t nt_offset = 0;  // of "PE\0\0" (e_lfanew)
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint16_t optional_magic = 0;  // 0x10B PE32, 0x20B PE32+
  std::uint16_t subsystem = 0;
  std::uint64_t image_base = 0;
  std::uint32_t section_alignment = 0;
  std::uint32_t file_alignment = 0;
  std::uint32_t size_of_headers = 0;
  std::uint32_t size_of_image = 0;
  std::uint32_t optional_offset = 0;       // file offset of the optional header
  std::uint32_t optional_size = 0;         // SizeOfOptionalHeader
  std::uint32_t section_table_offset = 0;  // file offset of the first section header
  std::vector<PeDirectory> directories;
  std::vector<PeSection> sections;
};

// Offsets inside the PE32+ optional header.
inline constexpr std::uint32_t kOptionalSizeOfInitializedData = 8;
inline constexpr std::uint32_t kOptionalSizeOfImage = 56;
inline constexpr std::uint32_t kOptionalSizeOfHeaders = 60;
inline constexpr std::uint32_t kOptionalCheckSum = 64;
inline constexpr std::uint32_t kOptionalSubsystem = 68;
inline constexpr std::uint32_t kOptionalDirectories = 112;
inline constexpr std::uint32_t kOptionalDirectoriesPe32 = 96;  // ImageBase is 4 bytes and BaseOfData precedes it
inline constexpr std::uint32_t kSectionHeaderSize = 40;

// Reads the DOS, file and optional headers and the section table. Fails on
// anything that is not a whole PE file ("not a Windows program (...)").
// Sections are taken as their headers say, even when their raw data lies
// past the end of the file: readers of their bytes go through the bounded
// rva_to_offset.
Result read_pe_image(const unsigned char* data, std::uint64_t size, PeImage& image);

// The section named name, or nullptr.
const PeSection* find_section(const PeImage& image, const std::string& name);

// The file offset of an RVA inside a section's raw data, with the bytes that
// follow it there and in the file; false when no section holds it in the
// file. A section header may claim raw data past the file's end (a cut
// download, or a crafted file): only the bytes the file holds count.
bool rva_to_offset(const PeImage& image, std::uint64_t file_size, std::uint32_t rva, std::uint64_t& offset,
                   std::uint64_t& available);

// The same, trusting the section table: only for an image whose sections
// are known to lie in the file (the packer's own stub).
bool rva_to_offset(const PeImage& image, std::uint32_t rva, std::uint64_t& offset, std::uint64_t& available);

// The PE checksum: the file's 16-bit words summed with end-around carry, the
// CheckSum field itself taken as 0, plus the file's length. It can be taken
// in pieces: add each piece in file order (every piece but the last a
// multiple of 8 bytes long), then finish with the field's place and bytes.
std::uint64_t pe_checksum_add(std::uint64_t sum, const unsigned char* data, std::uint64_t size);
std::uint32_t pe_checksum_finish(std::uint64_t sum, std::uint64_t file_size, std::uint64_t checksum_offset,
                                 const unsigned char field[4]);
std::uint32_t pe_checksum(const unsigned char* data, std::uint64_t size, std::uint64_t checksum_offset);

}  // namespace quorin::packer
