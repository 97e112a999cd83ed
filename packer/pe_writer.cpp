// Writing a launcher from the stub. Writes the output file; the rest is pure
// code over the stub's bytes.
#include "packer/pe_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "generated/baked_layout.h"
#include "packer/little_endian.h"
#include "packer/pe_image.h"
#include "packer/platform.h"

namespace quorin::packer {

namespace {

constexpr std::uint32_t kInitializedData = 0x00000040;
constexpr std::uint32_t kMemoryRead = 0x40000000;
constexpr std::uint32_t kReadOnlyData = kInitializedData | kMemoryRead;

std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void put_section_header(unsigned char* at, const PeSection& section) {
  std::memset(at, 0, kSectionHeaderSize);
  std::memcpy(at, section.name.data(), std::min<std::size_t>(section.name.size(), 8));
  set_le(at + 8, section.virtual_size, 4);
  set_le(at + 12, section.rva, 4);
  set_le(at + 16, section.raw_size, 4);
  set_le(at + 20, section.raw_offset, 4);
  set_le(at + 36, section.characteristics, 4);
}

Result io_error(const char* what) { return fail(std::string(what) + ": " + std::strerror(errno)); }

Result seek_to(std::FILE* out, std::uint64_t offset) {
  if (!seek_file(out, offset)) return io_error("writing the launcher");
  return ok();
}

Result write_bytes(std::FILE* out, const void* data, std::size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, out) != size) return io_error("writing the launcher");
  return ok();
}

Result pad_until(std::FILE* out, std::uint64_t at, std::uint64_t until) {
  static const char zeros[4096] = {};
  while (at < until) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof zeros, until - at));
    if (Result r = write_bytes(out, zeros, n); !r) return r;
    at += n;
  }
  return ok();
}

// A text into its room in the baked block: UTF-16LE units and a terminator.
Result put_text(unsigned char* block, std::size_t offset, std::size_t cap, const std::u16string& text,
                const char* what) {
  if (text.size() + 1 > cap) {
    return fail(std::string(what) + ": the text has " + std::to_string(text.size()) +
                " UTF-16 units; a launcher holds at most " + std::to_string(cap - 1));
  }
  std::memset(block + offset, 0, 2 * cap);
  for (std::size_t i = 0; i < text.size(); ++i) set_le(block + offset + 2 * i, text[i], 2);
  return ok();
}

// The stub as the writer needs it: sections in ascending order, the baked
// block, a relocation section last (if any) and no resources of its own.
Result check_stub(const PeImage& image, std::size_t stub_size) {
  if (image.machine != kMachineAmd64 || image.optional_magic != kMagicPe32Plus) {
    return fail("the launcher stub is not a Windows x64 program");
  }
  if (image.file_alignment < 512 || (image.file_alignment & (image.file_alignment - 1)) != 0 ||
      image.section_alignment < image.file_alignment || kAttachedAlignment % image.file_alignment != 0 ||
      image.directories.size() <= kDirectoryBaseRelocation) {
    return fail("the launcher stub has headers the packer cannot extend");
  }
  if (find_section(image, generated::kBakedSectionName) == nullptr) {
    return fail("the launcher stub has no section for its constants");
  }
  if (find_section(image, ".rsrc") != nullptr || find_section(image, kAttachedSectionName) != nullptr) {
    return fail("the launcher stub already holds resources or attached data");
  }
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection& section = image.sections[i];
    if (section.raw_offset + static_cast<std::uint64_t>(section.raw_size) > stub_size) {
      return fail("the launcher stub is cut short");
    }
    if (i > 0 && section.rva <= image.sections[i - 1].rva) return fail("the launcher stub's sections are out of order");
    if (section.name == ".reloc" && i + 1 != image.sections.size()) {
      return fail("the launcher stub's relocations are not its last section");
    }
  }
  return ok();
}

Result fill_baked_block(std::string& baked, const BakedConstants& constants) {
  auto* block = reinterpret_cast<unsigned char*>(baked.data());
  if (Result r = put_text(block, generated::kBakedSpecOffset, generated::kBakedSpecCap, constants.spec, "the spec"); !r) {
    return r;
  }
  if (Result r = put_text(block, generated::kBakedCompanyOffset, generated::kBakedTextCap, constants.company,
                          "the company");
      !r) {
    return r;
  }
  if (Result r = put_text(block, generated::kBakedProductOffset, generated::kBakedTextCap, constants.product,
                          "the product");
      !r) {
    return r;
  }
  return put_text(block, generated::kBakedVersionOffset, generated::kBakedVersionCap, constants.version, "the version");
}

}  // namespace

Result write_launcher(std::string_view stub_bytes, const BakedConstants& constants,
                      const std::vector<Resource>& resources, const AttachedWriter& write_attached, std::FILE* out) {
  const auto* stub = reinterpret_cast<const unsigned char*>(stub_bytes.data());
  PeImage image;
  if (Result r = read_pe_image(stub, stub_bytes.size(), image); !r) return fail("the launcher stub: " + r.error);
  if (Result r = check_stub(image, stub_bytes.size()); !r) return r;

  const PeSection& baked_section = *find_section(image, generated::kBakedSectionName);
  if (baked_section.raw_size < generated::kBakedSize ||
      std::memcmp(stub + baked_section.raw_offset, generated::kBakedMagic, sizeof generated::kBakedMagic) != 0) {
    return fail("the launcher stub's constants are not where the packer expects them");
  }

  std::vector<PeSection> sections;
  const PeSection* relocations = nullptr;
  for (const PeSection& section : image.sections) {
    if (section.name == ".reloc") {
      relocations = &section;
    } else {
      sections.push_back(section);
    }
  }
  const std::size_t section_count = sections.size() + 2 + (relocations != nullptr ? 1 : 0);
  std::uint64_t first_raw = image.size_of_headers;
  for (const PeSection& section : image.sections) {
    if (section.raw_size > 0) first_raw = std::min<std::uint64_t>(first_raw, section.raw_offset);
  }
  if (image.section_table_offset + kSectionHeaderSize * section_count > first_raw) {
    return fail("the launcher stub's headers have no room for three more sections");
  }
  const std::uint32_t section_alignment = image.section_alignment, file_alignment = image.file_alignment;
  std::uint64_t raw_end = image.size_of_headers, rva_end = 0;
  for (const PeSection& section : sections) {
    raw_end = std::max<std::uint64_t>(raw_end, section.raw_offset + static_cast<std::uint64_t>(section.raw_size));
    rva_end = std::max<std::uint64_t>(rva_end, section.rva + std::max<std::uint64_t>(section.virtual_size,
                                                                                       section.raw_size));
  }

  // The stub's own sections, as they are.
  if (Result r = write_bytes(out, stub, static_cast<std::size_t>(raw_end)); !r) return r;

  // The attached data, on a 4 KiB boundary of the file and of the image, so
  // that the system can map its pages straight from the file.
  PeSection data;
  data.name = kAttachedSectionName;
  data.raw_offset = static_cast<std::uint32_t>(align_up(raw_end, kAttachedAlignment));
  data.rva = static_cast<std::uint32_t>(align_up(rva_end, section_alignment));
  data.characteristics = kReadOnlyData;
  if (Result r = pad_until(out, raw_end, data.raw_offset); !r) return r;
  std::uint64_t length = 0;
  if (Result r = write_attached(out, length); !r) return r;
  const std::uint64_t data_raw_size = align_up(length, file_alignment);
  if (data.raw_offset + data_raw_size >= kMaxImageSize || data.rva + data_raw_size >= kMaxImageSize) {
    return fail("the launcher would be larger than the 2 GiB a Windows program can be; its attached data is " +
                std::to_string(length) + " bytes");
  }
  data.virtual_size = static_cast<std::uint32_t>(std::max<std::uint64_t>(length, 1));
  data.raw_size = static_cast<std::uint32_t>(data_raw_size);
  if (Result r = pad_until(out, data.raw_offset + length, data.raw_offset + data_raw_size); !r) return r;

  PeSection resource;
  resource.name = ".rsrc";
  resource.rva = static_cast<std::uint32_t>(align_up(data.rva + static_cast<std::uint64_t>(data.virtual_size),
                                                     section_alignment));
  resource.raw_offset = data.raw_offset + data.raw_size;
  resource.characteristics = kReadOnlyData;
  const std::string resource_bytes = resource_section(resources, resource.rva);
  resource.virtual_size = static_cast<std::uint32_t>(resource_bytes.size());
  resource.raw_size = static_cast<std::uint32_t>(align_up(resource_bytes.size(), file_alignment));
  if (Result r = write_bytes(out, resource_bytes.data(), resource_bytes.size()); !r) return r;
  if (Result r = pad_until(out, resource.raw_offset + resource_bytes.size(), resource.raw_offset + resource.raw_size);
      !r) {
    return r;
  }
  std::uint64_t image_end = resource.rva + static_cast<std::uint64_t>(resource.virtual_size);
  std::uint64_t file_end = resource.raw_offset + static_cast<std::uint64_t>(resource.raw_size);
  sections.push_back(data);
  sections.push_back(resource);

  if (relocations != nullptr) {
    PeSection moved = *relocations;
    moved.rva = static_cast<std::uint32_t>(align_up(image_end, section_alignment));
    moved.raw_offset = static_cast<std::uint32_t>(file_end);
    if (Result r = write_bytes(out, stub + relocations->raw_offset, relocations->raw_size); !r) return r;
    image_end = moved.rva + std::max<std::uint64_t>(moved.virtual_size, moved.raw_size);
    file_end += moved.raw_size;
    sections.push_back(moved);
  }
  const std::uint64_t size_of_image = align_up(image_end, section_alignment);
  if (size_of_image >= kMaxImageSize) return fail("the launcher would be larger than the 2 GiB a Windows program can be");

  // The baked block, filled once the attached data is written (its writer
  // may complete the constants, as the content stamp of a default spec).
  std::string baked(reinterpret_cast<const char*>(stub + baked_section.raw_offset), generated::kBakedSize);
  if (Result r = fill_baked_block(baked, constants); !r) return r;
  auto* block = reinterpret_cast<unsigned char*>(baked.data());

  // The headers: the stub's, with the new section table and sizes.
  std::string headers(reinterpret_cast<const char*>(stub), image.size_of_headers);
  auto* h = reinterpret_cast<unsigned char*>(headers.data());
  set_le(h + image.nt_offset + 4 + 2, sections.size(), 2);
  unsigned char* optional = h + image.optional_offset;
  std::uint64_t initialized = 0;
  for (const PeSection& section : sections) {
    if (section.characteristics & kInitializedData) initialized += section.raw_size;
  }
  set_le(optional + kOptionalSizeOfInitializedData, initialized, 4);
  set_le(optional + kOptionalSizeOfImage, size_of_image, 4);
  set_le(optional + kOptionalCheckSum, 0, 4);
  auto set_directory = [optional](int index, std::uint32_t rva, std::uint32_t size) {
    set_le(optional + kOptionalDirectories + 8 * index, rva, 4);
    set_le(optional + kOptionalDirectories + 8 * index + 4, size, 4);
  };
  set_directory(kDirectoryResource, resource.rva, resource.virtual_size);
  set_directory(kDirectorySecurity, 0, 0);
  if (relocations != nullptr) {
    set_directory(kDirectoryBaseRelocation, sections.back().rva, image.directories[kDirectoryBaseRelocation].size);
  }
  std::memset(h + image.section_table_offset, 0, kSectionHeaderSize * section_count);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    put_section_header(h + image.section_table_offset + kSectionHeaderSize * i, sections[i]);
  }

  // Where the attached data lies, for the launcher.
  set_le(block + generated::kBakedAttachedRvaOffset, data.rva, 8);
  set_le(block + generated::kBakedAttachedLengthOffset, length, 8);

  if (Result r = seek_to(out, 0); !r) return r;
  if (Result r = write_bytes(out, headers.data(), headers.size()); !r) return r;
  if (Result r = seek_to(out, baked_section.raw_offset); !r) return r;
  if (Result r = write_bytes(out, baked.data(), baked.size()); !r) return r;
  if (std::fflush(out) != 0) return io_error("writing the launcher");

  // The checksum over the whole file as it now stands.
  if (Result r = seek_to(out, 0); !r) return r;
  std::vector<unsigned char> buffer(std::size_t{1} << 20);
  std::uint64_t sum = 0, done = 0;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), out);
    sum = pe_checksum_add(sum, buffer.data(), got);
    done += got;
    if (got < buffer.size()) break;
  }
  if (std::ferror(out) || done != file_end) return io_error("reading the launcher back");
  const std::uint64_t checksum_offset = image.optional_offset + kOptionalCheckSum;
  const unsigned char zero_field[4] = {0, 0, 0, 0};
  const std::uint32_t checksum = pe_checksum_finish(sum, file_end, checksum_offset, zero_field);
  unsigned char field[4];
  set_le(field, checksum, 4);
  if (Result r = seek_to(out, checksum_offset); !r) return r;
  if (Result r = write_bytes(out, field, sizeof field); !r) return r;
  if (std::fflush(out) != 0) return io_error("writing the launcher");
  return ok();
}

}  // namespace quorin::packer
