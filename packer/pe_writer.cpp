// Writing a launcher from the stub, in the places launcher_layout.cpp plans.
// Writes the output file; the headers and the baked block are patched in
// memory first.
#include "packer/pe_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "generated/baked_layout.h"
#include "packer/little_endian.h"
#include "packer/platform.h"

namespace quorin::packer {

namespace {

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

// Where the attached data and its index lie in the .quorin section: the
// index follows the data on an 8-byte boundary.
struct AttachedPlace {
  std::uint64_t length = 0;        // L
  std::uint64_t index_offset = 0;  // from the section's start
  std::uint64_t index_length = 0;  // 0: no index
};

// The stub's baked block with the texts and where the attached data lies.
Result fill_baked_block(std::string& baked, const BakedConstants& constants, const LauncherLayout& layout,
                        const AttachedPlace& place) {
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
  if (Result r = put_text(block, generated::kBakedVersionOffset, generated::kBakedVersionCap, constants.version,
                          "the version");
      !r) {
    return r;
  }
  if (Result r = put_text(block, generated::kBakedBuildOffset, generated::kBakedBuildCap, constants.build,
                          "the build's stamp");
      !r) {
    return r;
  }
  set_le(block + generated::kBakedKeepBuildsOffset, constants.keep_builds, 4);
  set_le(block + generated::kBakedProgressWindowOffset, constants.progress_window, 4);
  set_le(block + generated::kBakedAttachedRvaOffset, layout.attached.rva, 8);
  set_le(block + generated::kBakedAttachedLengthOffset, place.length, 8);
  set_le(block + generated::kBakedIndexRvaOffset, place.index_length == 0 ? 0 : layout.attached.rva + place.index_offset, 8);
  set_le(block + generated::kBakedIndexLengthOffset, place.index_length, 8);
  return ok();
}

// The stub's headers with the new section table, sizes and subsystem; the
// checksum is left 0 until the whole file is written.
void patch_headers(std::string& headers, const PeImage& image, const StubLayout& stub, const LauncherLayout& layout,
                   std::uint16_t subsystem) {
  auto* h = reinterpret_cast<unsigned char*>(headers.data());
  set_le(h + image.nt_offset + 4 + 2, layout.sections.size(), 2);
  unsigned char* optional = h + image.optional_offset;
  set_le(optional + kOptionalSizeOfInitializedData, layout.size_of_initialized_data, 4);
  set_le(optional + kOptionalSizeOfImage, layout.size_of_image, 4);
  set_le(optional + kOptionalCheckSum, 0, 4);
  if (subsystem != 0) set_le(optional + kOptionalSubsystem, subsystem, 2);
  auto set_directory = [optional](int index, std::uint32_t rva, std::uint32_t size) {
    set_le(optional + kOptionalDirectories + 8 * index, rva, 4);
    set_le(optional + kOptionalDirectories + 8 * index + 4, size, 4);
  };
  set_directory(kDirectoryResource, layout.resources.rva, layout.resources.virtual_size);
  set_directory(kDirectorySecurity, 0, 0);
  if (stub.has_relocations) set_directory(kDirectoryBaseRelocation, layout.sections.back().rva, stub.relocations_size);
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    put_section_header(h + image.section_table_offset + kSectionHeaderSize * i, layout.sections[i]);
  }
}

// The checksum over the whole file as it stands, into its field.
Result write_checksum(std::FILE* out, std::uint64_t file_size, std::uint64_t checksum_offset) {
  if (Result r = seek_to(out, 0); !r) return r;
  std::vector<unsigned char> buffer(std::size_t{1} << 20);
  std::uint64_t sum = 0, done = 0;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), out);
    sum = pe_checksum_add(sum, buffer.data(), got);
    done += got;
    if (got < buffer.size()) break;
  }
  if (std::ferror(out) || done != file_size) return io_error("reading the launcher back");
  const unsigned char zero_field[4] = {0, 0, 0, 0};
  const std::uint32_t checksum = pe_checksum_finish(sum, file_size, checksum_offset, zero_field);
  unsigned char field[4];
  set_le(field, checksum, 4);
  if (Result r = seek_to(out, checksum_offset); !r) return r;
  if (Result r = write_bytes(out, field, sizeof field); !r) return r;
  if (std::fflush(out) != 0) return io_error("writing the launcher");
  return ok();
}

// The stub's part, the attached data after it and its index, padded to
// their section's size; plans the rest once their length is known.
Result write_stub_and_attached(std::string_view stub, const StubLayout& plan, const AttachedWriter& write_attached,
                               std::FILE* out, AttachedPlace& place, LauncherLayout& layout) {
  if (Result r = write_bytes(out, stub.data(), static_cast<std::size_t>(plan.stub_end)); !r) return r;
  if (Result r = pad_until(out, plan.stub_end, plan.attached_offset); !r) return r;
  std::string index;
  if (Result r = write_attached(out, place.length, index); !r) return r;
  std::uint64_t content = place.length;
  if (!index.empty()) {
    place.index_offset = (place.length + 7) / 8 * 8;
    place.index_length = index.size();
    if (Result r = pad_until(out, plan.attached_offset + place.length, plan.attached_offset + place.index_offset); !r) {
      return r;
    }
    if (Result r = write_bytes(out, index.data(), index.size()); !r) return r;
    content = place.index_offset + place.index_length;
  }
  if (Result r = plan_launcher(plan, content, layout); !r) return r;
  return pad_until(out, plan.attached_offset + content, plan.attached_offset + std::uint64_t{layout.attached.raw_size});
}

// The resource section, made for the RVA the plan gives it, then .reloc.
Result write_resources_and_relocations(std::string_view stub, const StubLayout& plan,
                                       const std::vector<Resource>& resources, std::FILE* out,
                                       LauncherLayout& layout) {
  const std::string bytes = resource_section(resources, layout.resources.rva);
  if (Result r = place_resources(plan, bytes.size(), layout); !r) return r;
  if (Result r = write_bytes(out, bytes.data(), bytes.size()); !r) return r;
  const std::uint64_t at = layout.resources.raw_offset;
  if (Result r = pad_until(out, at + bytes.size(), at + layout.resources.raw_size); !r) return r;
  if (!plan.has_relocations) return ok();
  return write_bytes(out, stub.data() + plan.relocations.raw_offset, plan.relocations.raw_size);
}

}  // namespace

Result write_launcher(std::string_view stub, const BakedConstants& constants, const std::vector<Resource>& resources,
                      const AttachedWriter& write_attached, std::FILE* out, std::uint16_t subsystem) {
  PeImage image;
  if (Result r = read_pe_image(reinterpret_cast<const unsigned char*>(stub.data()), stub.size(), image); !r) {
    return fail("the launcher stub: " + r.error);
  }
  StubLayout plan;
  if (Result r = plan_stub(stub, image, plan); !r) return r;

  // The sections in file order; the headers and the baked block come last,
  // once every place is known.
  AttachedPlace place;
  LauncherLayout layout;
  if (Result r = write_stub_and_attached(stub, plan, write_attached, out, place, layout); !r) return r;
  if (Result r = write_resources_and_relocations(stub, plan, resources, out, layout); !r) return r;

  // The baked block is filled only now: the attached data's writer may
  // complete the constants (the content stamp of a default spec).
  std::string baked(stub.substr(plan.baked_offset, generated::kBakedSize));
  if (Result r = fill_baked_block(baked, constants, layout, place); !r) return r;
  std::string headers(stub.substr(0, image.size_of_headers));
  patch_headers(headers, image, plan, layout, subsystem);

  if (Result r = seek_to(out, 0); !r) return r;
  if (Result r = write_bytes(out, headers.data(), headers.size()); !r) return r;
  if (Result r = seek_to(out, plan.baked_offset); !r) return r;
  if (Result r = write_bytes(out, baked.data(), baked.size()); !r) return r;
  if (std::fflush(out) != 0) return io_error("writing the launcher");
  return write_checksum(out, layout.file_size, image.optional_offset + kOptionalCheckSum);
}

}  // namespace quorin::packer
