// What the packer learns about the child program from its file. Pure code.
#include "packer/program_info.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

namespace {

// The program's VS_VERSIONINFO block (type 16, its first id, its first
// language), or nullptr.
const unsigned char* version_block(const unsigned char* data, std::uint64_t size, std::uint32_t& block_size) {
  PeImage image;
  if (!read_pe_image(data, size, image) || image.directories.size() <= kDirectoryResource) return nullptr;
  const PeDirectory& resources = image.directories[kDirectoryResource];
  if (resources.rva == 0 || resources.size < 16) return nullptr;
  const unsigned char* section = at_rva(data, size, image, resources.rva, resources.size);
  if (section == nullptr) return nullptr;
  bool directory = false;
  const unsigned char* node = first_entry(section, resources.size, 0, kResourceTypeVersion, false, directory);
  for (int level = 0; node != nullptr && directory && level < 2; ++level) {
    node = first_entry(section, resources.size, static_cast<std::uint32_t>(node - section), 0, true, directory);
  }
  if (node == nullptr || directory || static_cast<std::uint64_t>(node - section) + 16 > resources.size) return nullptr;
  const std::uint32_t data_rva = read_le(node, 4);
  block_size = read_le(node + 4, 4);
  return at_rva(data, size, image, data_rva, block_size);
}

std::size_t align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// One node of the version tree (wLength, wValueLength, wType, key, value,
// children), its offsets within the block; false when it does not fit.
struct VersionNode {
  std::u16string key;
  std::size_t value = 0;     // the value's first byte
  std::size_t children = 0;  // the first child's
  std::size_t end = 0;       // the node's end
};

bool read_node(const unsigned char* block, std::size_t size, std::size_t at, VersionNode& node) {
  if (at + 6 > size) return false;
  const std::size_t length = read_le(block + at, 2);
  if (length < 6 || at + length > size) return false;
  node.end = at + length;
  const std::size_t value_length = read_le(block + at + 2, 2) * (read_le(block + at + 4, 2) == 1 ? 2 : 1);
  node.key.clear();
  std::size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > node.end) return false;
    const auto unit = static_cast<char16_t>(read_le(block + p, 2));
    if (unit == 0) break;
    node.key.push_back(unit);
  }
  node.value = std::min(align4(p + 2), node.end);
  node.children = std::min(align4(node.value + value_length), node.end);
  return true;
}

// The children of a node, in order.
std::vector<VersionNode> children_of(const unsigned char* block, const VersionNode& parent) {
  std::vector<VersionNode> children;
  VersionNode child;
  for (std::size_t at = parent.children; at + 6 <= parent.end && read_node(block, parent.end, at, child);
       at = align4(child.end)) {
    children.push_back(child);
  }
  return children;
}

bool is_blank(char16_t unit) { return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n'; }

}  // namespace

std::optional<std::string> program_file_version(const unsigned char* data, std::uint64_t size) {
  std::uint32_t block_size = 0;
  const unsigned char* block = version_block(data, size, block_size);
  // VS_VERSIONINFO: lengths and type (6 bytes), "VS_VERSION_INFO" and its
  // terminator (32 bytes), padding to 4: the fixed information at 40.
  if (block == nullptr || block_size < 40 + 52 || read_le(block + 40, 4) != kFixedFileInfoSignature) return std::nullopt;
  const std::uint32_t most = read_le(block + 48, 4), least = read_le(block + 52, 4);
  return std::to_string(most >> 16) + "." + std::to_string(most & 0xFFFF) + "." + std::to_string(least >> 16) + "." +
         std::to_string(least & 0xFFFF);
}

std::optional<std::u16string> program_version_text(const unsigned char* data, std::uint64_t size,
                                                   const std::u16string& key) {
  std::uint32_t block_size = 0;
  const unsigned char* block = version_block(data, size, block_size);
  VersionNode root;
  if (block == nullptr || !read_node(block, block_size, 0, root)) return std::nullopt;
  for (const VersionNode& info : children_of(block, root)) {
    if (info.key != u"StringFileInfo") continue;
    for (const VersionNode& table : children_of(block, info)) {
      for (const VersionNode& string : children_of(block, table)) {
        if (string.key != key) continue;
        std::u16string value;
        for (std::size_t p = string.value; p + 2 <= string.end; p += 2) {
          const auto unit = static_cast<char16_t>(read_le(block + p, 2));
          if (unit == 0) break;
          value.push_back(unit);
        }
        while (!value.empty() && is_blank(value.back())) value.pop_back();
        std::size_t first = 0;
        while (first < value.size() && is_blank(value[first])) ++first;
        value.erase(0, first);
        if (!value.empty()) return value;
      }
    }
  }
  return std::nullopt;
}

std::uint16_t program_subsystem(const unsigned char* data, std::uint64_t size) {
  PeImage image;
  if (!read_pe_image(data, size, image) || image.optional_magic != kMagicPe32Plus) return 0;
  return image.subsystem;
}

}  // namespace quorin::packer
