// Reading the import and delay-load import tables of a PE file. Pure code.
#include "packer/pe_imports.h"

#include <cstring>

#include "packer/little_endian.h"

namespace quorin::packer {

namespace {

// IMAGE_IMPORT_DESCRIPTOR: OriginalFirstThunk, TimeDateStamp, ForwarderChain,
// Name, FirstThunk.
constexpr std::uint32_t kImportDescriptorSize = 20;
constexpr std::uint32_t kImportName = 12;
constexpr std::uint32_t kImportFirstThunk = 16;
// The delay-load descriptor: Attributes, DllNameRVA, then six more fields.
constexpr std::uint32_t kDelayDescriptorSize = 32;
constexpr std::uint32_t kDelayName = 4;
// Attributes bit 0 clear: the fields are addresses (VAs), as the Visual C++
// 6 linker wrote them, not RVAs.
constexpr std::uint32_t kDelayAttributeRva = 1;
// A DLL name the loader takes is a file name (MAX_PATH, terminator included).
constexpr std::uint64_t kNameCap = 260;

// The NUL-terminated name at rva, which must end inside its section and in
// the file within kNameCap bytes and not be empty.
Result read_name(const unsigned char* data, std::uint64_t size, const PeImage& image, std::uint32_t rva,
                 std::string& name) {
  std::uint64_t offset = 0, available = 0;
  if (!rva_to_offset(image, size, rva, offset, available)) return fail("a DLL name lies outside the file's sections");
  const std::uint64_t room = available < kNameCap ? available : kNameCap;
  const void* end = std::memchr(data + offset, '\0', room);
  if (end == nullptr) return fail("a DLL name runs on without its end");
  name.assign(reinterpret_cast<const char*>(data + offset), static_cast<const unsigned char*>(end) - (data + offset));
  if (name.empty()) return fail("a DLL name is empty");
  return ok();
}

// The descriptor index of a table at table_rva, or nullptr when it does not
// lie whole in the file. The directory's size field is not used: the loader
// walks to the terminating descriptor whatever it says.
const unsigned char* descriptor_at(const unsigned char* data, std::uint64_t size, const PeImage& image,
                                   std::uint32_t table_rva, std::uint64_t index, std::uint32_t descriptor_size) {
  const std::uint64_t rva = table_rva + index * descriptor_size;
  std::uint64_t offset = 0, available = 0;
  if (rva > UINT32_MAX || !rva_to_offset(image, size, static_cast<std::uint32_t>(rva), offset, available) ||
      available < descriptor_size) {
    return nullptr;
  }
  return data + offset;
}

std::uint32_t directory_rva(const PeImage& image, int index) {
  return image.directories.size() > static_cast<std::size_t>(index) ? image.directories[index].rva : 0;
}

// The import table ends at a descriptor without a name or without an
// address table, as the loader stops there.
Result read_import_table(const unsigned char* data, std::uint64_t size, const PeImage& image,
                         std::vector<ImportedDll>& dlls) {
  const std::uint32_t table = directory_rva(image, kDirectoryImport);
  if (table == 0) return ok();
  for (std::uint64_t i = 0;; ++i) {
    const unsigned char* descriptor = descriptor_at(data, size, image, table, i, kImportDescriptorSize);
    if (descriptor == nullptr) {
      return fail("import table: entry " + std::to_string(i + 1) + " lies outside the file's sections");
    }
    const std::uint32_t name_rva = read_le(descriptor + kImportName, 4);
    if (name_rva == 0 || read_le(descriptor + kImportFirstThunk, 4) == 0) return ok();
    ImportedDll dll;
    if (Result r = read_name(data, size, image, name_rva, dll.name); !r) return fail("import table: " + r.error);
    dlls.push_back(dll);
  }
}

// The delay-load table ends at a descriptor without a name.
Result read_delay_table(const unsigned char* data, std::uint64_t size, const PeImage& image,
                        std::vector<ImportedDll>& dlls) {
  const std::uint32_t table = directory_rva(image, kDirectoryDelayImport);
  if (table == 0) return ok();
  for (std::uint64_t i = 0;; ++i) {
    const unsigned char* descriptor = descriptor_at(data, size, image, table, i, kDelayDescriptorSize);
    if (descriptor == nullptr) {
      return fail("delay-load import table: entry " + std::to_string(i + 1) + " lies outside the file's sections");
    }
    std::uint64_t name_rva = read_le(descriptor + kDelayName, 4);
    if (name_rva == 0) return ok();
    if (!(read_le(descriptor, 4) & kDelayAttributeRva)) {
      // A 32-bit address; an image based above 4 GiB has no such table.
      if (name_rva < image.image_base) return fail("delay-load import table: a DLL name lies before the image");
      name_rva -= image.image_base;
    }
    ImportedDll dll;
    dll.delayed = true;
    if (Result r = read_name(data, size, image, static_cast<std::uint32_t>(name_rva), dll.name); !r) {
      return fail("delay-load import table: " + r.error);
    }
    dlls.push_back(dll);
  }
}

}  // namespace

Result read_pe_imports(const unsigned char* data, std::uint64_t size, const PeImage& image,
                       std::vector<ImportedDll>& dlls) {
  if (Result r = read_import_table(data, size, image, dlls); !r) return r;
  return read_delay_table(data, size, image, dlls);
}

}  // namespace quorin::packer
