// Reading the headers of a PE file. Pure code.
#include "packer/pe_image.h"

#include <algorithm>
#include <cstring>

#include "packer/little_endian.h"

namespace quorin::packer {

Result read_pe_image(const unsigned char* data, std::uint64_t size, PeImage& image) {
  image = {};
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return fail("not a Windows program (no \"MZ\" at its start)");
  image.nt_offset = read_le(data + 0x3C, 4);
  if (image.nt_offset > size || size - image.nt_offset < 24 || std::memcmp(data + image.nt_offset, "PE\0\0", 4) != 0) {
    return fail("not a Windows program (an MZ file without a PE header: a DOS program?)");
  }
  const unsigned char* file_header = data + image.nt_offset + 4;
  image.machine = static_cast<std::uint16_t>(read_le(file_header, 2));
  const std::uint32_t section_count = read_le(file_header + 2, 2);
  image.optional_size = read_le(file_header + 16, 2);
  image.characteristics = static_cast<std::uint16_t>(read_le(file_header + 18, 2));
  // In 64 bits: near 4 GiB the sum would wrap in 32, and the fields are 32-bit.
  const std::uint64_t table = std::uint64_t{image.nt_offset} + 24 + image.optional_size;
  if (table > size || table > UINT32_MAX || (size - table) / kSectionHeaderSize < section_count) {
    return fail("not a whole Windows program (its headers are cut short)");
  }
  image.optional_offset = image.nt_offset + 24;
  image.section_table_offset = static_cast<std::uint32_t>(table);
  const unsigned char* optional = data + image.optional_offset;
  if (image.optional_size >= 2) image.optional_magic = static_cast<std::uint16_t>(read_le(optional, 2));
  // PE32 (a 32-bit DLL or helper packed beside the child) differs from
  // PE32+ only before the directories: a 4-byte ImageBase after BaseOfData.
  const bool plus = image.optional_magic == kMagicPe32Plus;
  const std::uint32_t directories = plus ? kOptionalDirectories : kOptionalDirectoriesPe32;
  if ((plus || image.optional_magic == kMagicPe32) && image.optional_size >= directories) {
    image.image_base = plus ? read_le(optional + 24, 8) : read_le(optional + 28, 4);
    image.section_alignment = read_le(optional + 32, 4);
    image.file_alignment = read_le(optional + 36, 4);
    image.size_of_image = read_le(optional + kOptionalSizeOfImage, 4);
    image.size_of_headers = read_le(optional + kOptionalSizeOfHeaders, 4);
    image.subsystem = static_cast<std::uint16_t>(read_le(optional + kOptionalSubsystem, 2));
    const std::uint32_t count = read_le(optional + directories - 4, 4);
    for (std::uint32_t i = 0; i < count && directories + 8 * (i + 1) <= image.optional_size; ++i) {
      image.directories.push_back({static_cast<std::uint32_t>(read_le(optional + directories + 8 * i, 4)),
                                   static_cast<std::uint32_t>(read_le(optional + directories + 8 * i + 4, 4))});
    }
  }
  for (std::uint32_t i = 0; i < section_count; ++i) {
    const unsigned char* header = data + image.section_table_offset + kSectionHeaderSize * i;
    PeSection section;
    section.name.assign(reinterpret_cast<const char*>(header), strnlen(reinterpret_cast<const char*>(header), 8));
    section.virtual_size = read_le(header + 8, 4);
    section.rva = read_le(header + 12, 4);
    section.raw_size = read_le(header + 16, 4);
    section.raw_offset = read_le(header + 20, 4);
    section.characteristics = read_le(header + 36, 4);
    image.sections.push_back(section);
  }
  return ok();
}

const PeSection* find_section(const PeImage& image, const std::string& name) {
  for (const PeSection& section : image.sections) {
    if (section.name == name) return &section;
  }
  return nullptr;
}

bool rva_to_offset(const PeImage& image, std::uint64_t file_size, std::uint32_t rva, std::uint64_t& offset,
                   std::uint64_t& available) {
  for (const PeSection& section : image.sections) {
    if (rva >= section.rva && rva - section.rva < section.raw_size) {
      const std::uint64_t at = std::uint64_t{section.raw_offset} + (rva - section.rva);
      if (at >= file_size) return false;
      offset = at;
      available = std::min<std::uint64_t>(section.raw_size - (rva - section.rva), file_size - at);
      return true;
    }
  }
  return false;
}

bool rva_to_offset(const PeImage& image, std::uint32_t rva, std::uint64_t& offset, std::uint64_t& available) {
  return rva_to_offset(image, UINT64_MAX, rva, offset, available);
}

namespace {

// One's-complement sums agree whatever the word width they are taken in,
// since 2^16 - 1 divides 2^64 - 1: 64-bit words are summed with end-around
// carry and folded down to 16 bits at the end.
std::uint64_t add_word(std::uint64_t sum, std::uint64_t word) {
  sum += word;
  return sum < word ? sum + 1 : sum;  // the carry out comes back in
}

}  // namespace

std::uint64_t pe_checksum_add(std::uint64_t sum, const unsigned char* data, std::uint64_t size) {
  std::uint64_t at = 0;
  for (; at + 8 <= size; at += 8) {
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = (word << 8) | data[at + i];
    sum = add_word(sum, word);
  }
  if (at < size) {  // a last piece's tail, padded with zeros
    std::uint64_t word = 0;
    for (std::uint64_t i = size; i-- > at;) word = (word << 8) | data[i];
    sum = add_word(sum, word);
  }
  return sum;
}

std::uint32_t pe_checksum_finish(std::uint64_t sum, std::uint64_t file_size, std::uint64_t checksum_offset,
                                 const unsigned char field[4]) {
  // The CheckSum field counts as 0: its bytes come out again, each at its
  // place in its word (subtracting in one's complement adds the complement).
  for (int i = 0; i < 4; ++i) {
    sum = add_word(sum, ~(static_cast<std::uint64_t>(field[i]) << (8 * ((checksum_offset + i) % 8))));
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(file_size);
}

std::uint32_t pe_checksum(const unsigned char* data, std::uint64_t size, std::uint64_t checksum_offset) {
  return pe_checksum_finish(pe_checksum_add(0, data, size), size, checksum_offset, data + checksum_offset);
}

}  // namespace quorin::packer
