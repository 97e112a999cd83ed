// What the packer learns about the child program from its file. Pure code.
#include "packer/program_info.h"

#include <cstring>

#include "packer/little_endian.h"
#include "packer/pe_image.h"
#include "packer/resource_section.h"

namespace quorin::packer {

namespace {

constexpr std::uint16_t kFileExecutableImage = 0x0002;
constexpr std::uint16_t kFileDll = 0x2000;

const char* machine_name(std::uint16_t machine) {
  switch (machine) {
    case 0x014C:
      return "x86 (32-bit)";
    case 0x0200:
      return "Itanium";
    case 0x01C4:
      return "ARM (32-bit)";
    case 0xAA64:
      return "ARM64";
    default:
      return nullptr;
  }
}

// The bytes at an RVA of the image, or nullptr when fewer than size of them
// lie in the file (file_size bytes at data): a section may claim more.
const unsigned char* at_rva(const unsigned char* data, std::uint64_t file_size, const PeImage& image,
                            std::uint32_t rva, std::uint64_t size) {
  std::uint64_t offset = 0, available = 0;
  if (!rva_to_offset(image, file_size, rva, offset, available) || available < size) return nullptr;
  return data + offset;
}

// The first subdirectory or data entry of a resource directory, in file
// bytes: for the type level, the entry whose id is wanted_id.
const unsigned char* first_entry(const unsigned char* section, std::uint64_t section_size, std::uint32_t directory,
                                 std::uint32_t wanted_id, bool any_id, bool& is_directory) {
  if (directory + 16 > section_size) return nullptr;
  const std::uint32_t count = read_le(section + directory + 12, 2) + read_le(section + directory + 14, 2);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = directory + 16 + 8ull * i;
    if (entry + 8 > section_size) return nullptr;
    const std::uint32_t name = read_le(section + entry, 4), target = read_le(section + entry + 4, 4);
    if (!any_id && name != wanted_id) continue;
    is_directory = (target & 0x80000000u) != 0;
    const std::uint32_t offset = target & 0x7FFFFFFFu;
    return offset < section_size ? section + offset : nullptr;
  }
  return nullptr;
}

}  // namespace

Result check_x64_program(const unsigned char* data, std::uint64_t size) {
  PeImage image;
  if (Result r = read_pe_image(data, size, image); !r) {
    // What it is instead, when its first bytes say so.
    if (size >= 2 && data[0] == '#' && data[1] == '!') return fail("a script (it starts with \"#!\"), not a Windows program");
    if (size >= 4 && std::memcmp(data, "\x7F" "ELF", 4) == 0) return fail("a Linux (ELF) program, not a Windows program");
    if (size >= 3 && std::memcmp(data, "QZY", 3) == 0) return fail("attached data, not a Windows program");
    return r;
  }
  if (image.machine != kMachineAmd64) {
    const char* name = machine_name(image.machine);
    return fail(std::string("a Windows program for ") + (name != nullptr ? name : "another processor") +
                ", but a launcher starts only x64 programs");
  }
  if (image.optional_magic != kMagicPe32Plus) return fail("not a PE32+ image, as a Windows x64 program is");
  if (image.characteristics & kFileDll) return fail("a DLL, not a program the launcher can start");
  if (!(image.characteristics & kFileExecutableImage)) return fail("an object file, not an executable image");
  return ok();
}

std::optional<std::string> program_file_version(const unsigned char* data, std::uint64_t size) {
  PeImage image;
  if (!read_pe_image(data, size, image) || image.directories.size() <= kDirectoryResource) return std::nullopt;
  const PeDirectory& resources = image.directories[kDirectoryResource];
  if (resources.rva == 0 || resources.size < 16) return std::nullopt;
  const unsigned char* section = at_rva(data, size, image, resources.rva, resources.size);
  if (section == nullptr) return std::nullopt;
  // Type 16, its first id, its first language: a data entry.
  bool directory = false;
  const unsigned char* node = first_entry(section, resources.size, 0, kResourceTypeVersion, false, directory);
  for (int level = 0; node != nullptr && directory && level < 2; ++level) {
    node = first_entry(section, resources.size, static_cast<std::uint32_t>(node - section), 0, true, directory);
  }
  if (node == nullptr || directory || static_cast<std::uint64_t>(node - section) + 16 > resources.size) {
    return std::nullopt;
  }
  const std::uint32_t data_rva = read_le(node, 4), data_size = read_le(node + 4, 4);
  const unsigned char* block = at_rva(data, size, image, data_rva, data_size);
  // VS_VERSIONINFO: lengths and type (6 bytes), "VS_VERSION_INFO" and its
  // terminator (32 bytes), padding to 4: the fixed information at 40.
  if (block == nullptr || data_size < 40 + 52 || read_le(block + 40, 4) != kFixedFileInfoSignature) return std::nullopt;
  const std::uint32_t most = read_le(block + 48, 4), least = read_le(block + 52, 4);
  return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFF) + "." + std::to_string(least >> 16);
}

}  // namespace quorin::packer
