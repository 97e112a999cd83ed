// Where everything of a launcher lies. Pure code.
//
//   headers | the stub's sections | .quorin (attached data) | .rsrc | .reloc
//
// Everything the stub's code refers to keeps its place; only the sections
// after it are new or moved (.reloc, whose contents name no RVA of its own).
#include "packer/launcher_layout.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "generated/baked_layout.h"

namespace quorin::packer {

namespace {

constexpr std::uint32_t kInitializedData = 0x00000040;
constexpr std::uint32_t kMemoryRead = 0x40000000;
constexpr std::uint32_t kReadOnlyData = kInitializedData | kMemoryRead;

std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
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
  if (image.size_of_headers > stub_size) return fail("the launcher stub is cut short");
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

}  // namespace

Result plan_stub(std::string_view stub, const PeImage& image, StubLayout& layout) {
  if (Result r = check_stub(image, stub.size()); !r) return r;
  const PeSection& baked = *find_section(image, generated::kBakedSectionName);
  if (baked.raw_size < generated::kBakedSize ||
      std::memcmp(stub.data() + baked.raw_offset, generated::kBakedMagic, sizeof generated::kBakedMagic) != 0) {
    return fail("the launcher stub's constants are not where the packer expects them");
  }
  layout = StubLayout{};
  layout.baked_offset = baked.raw_offset;
  layout.section_alignment = image.section_alignment;
  layout.file_alignment = image.file_alignment;
  std::uint64_t first_raw = image.size_of_headers;
  for (const PeSection& section : image.sections) {
    if (section.raw_size > 0) first_raw = std::min<std::uint64_t>(first_raw, section.raw_offset);
    if (section.name == ".reloc") {
      layout.has_relocations = true;
      layout.relocations = section;
      layout.relocations_size = image.directories[kDirectoryBaseRelocation].size;
    } else {
      layout.kept.push_back(section);
    }
  }
  // The new table: the kept sections, .quorin, .rsrc and .reloc.
  const std::size_t section_count = layout.kept.size() + 2 + (layout.has_relocations ? 1 : 0);
  if (image.section_table_offset + kSectionHeaderSize * section_count > first_raw) {
    return fail("the launcher stub's headers have no room for three more sections");
  }
  std::uint64_t raw_end = image.size_of_headers, rva_end = 0;
  for (const PeSection& section : layout.kept) {
    raw_end = std::max<std::uint64_t>(raw_end, section.raw_offset + static_cast<std::uint64_t>(section.raw_size));
    rva_end = std::max<std::uint64_t>(rva_end,
                                      section.rva + std::max<std::uint64_t>(section.virtual_size, section.raw_size));
  }
  layout.stub_end = raw_end;
  // On a 4 KiB boundary of the file and of the image, so that the system can
  // map the attached data's pages straight from the file. The stub is far
  // below 2 GiB (check_stub bounds its sections by its size), so these fit.
  layout.attached_offset = static_cast<std::uint32_t>(align_up(raw_end, kAttachedAlignment));
  layout.attached_rva = static_cast<std::uint32_t>(align_up(rva_end, image.section_alignment));
  return ok();
}

Result plan_launcher(const StubLayout& stub, std::uint64_t attached_length, LauncherLayout& layout) {
  layout = LauncherLayout{};
  PeSection& data = layout.attached;
  data.name = kAttachedSectionName;
  data.raw_offset = stub.attached_offset;
  data.rva = stub.attached_rva;
  data.characteristics = kReadOnlyData;
  const std::uint64_t raw_size = align_up(attached_length, stub.file_alignment);
  if (data.raw_offset + raw_size >= kMaxImageSize || data.rva + raw_size >= kMaxImageSize) {
    return fail("the launcher would be larger than the 2 GiB a Windows program can be; its attached data is " +
                std::to_string(attached_length) + " bytes");
  }
  // A section of no bytes still takes one page of the image.
  data.virtual_size = static_cast<std::uint32_t>(std::max<std::uint64_t>(attached_length, 1));
  data.raw_size = static_cast<std::uint32_t>(raw_size);

  PeSection& resources = layout.resources;
  resources.name = ".rsrc";
  resources.rva = static_cast<std::uint32_t>(align_up(data.rva + std::uint64_t{data.virtual_size},
                                                      stub.section_alignment));
  resources.raw_offset = data.raw_offset + data.raw_size;
  resources.characteristics = kReadOnlyData;
  return ok();
}

Result place_resources(const StubLayout& stub, std::uint64_t resource_size, LauncherLayout& layout) {
  const std::uint64_t resource_raw_size = align_up(resource_size, stub.file_alignment);
  PeSection& resources = layout.resources;
  std::uint64_t image_end = resources.rva + resource_size;
  std::uint64_t file_end = resources.raw_offset + resource_raw_size;
  if (image_end >= kMaxImageSize || file_end >= kMaxImageSize) {
    return fail("the launcher would be larger than the 2 GiB a Windows program can be");
  }
  resources.virtual_size = static_cast<std::uint32_t>(resource_size);
  resources.raw_size = static_cast<std::uint32_t>(resource_raw_size);

  layout.sections = stub.kept;
  layout.sections.push_back(layout.attached);
  layout.sections.push_back(resources);
  if (stub.has_relocations) {
    PeSection moved = stub.relocations;
    moved.rva = static_cast<std::uint32_t>(align_up(image_end, stub.section_alignment));
    moved.raw_offset = static_cast<std::uint32_t>(file_end);
    image_end = moved.rva + std::max<std::uint64_t>(moved.virtual_size, moved.raw_size);
    file_end += moved.raw_size;
    layout.sections.push_back(moved);
  }
  const std::uint64_t size_of_image = align_up(image_end, stub.section_alignment);
  if (size_of_image >= kMaxImageSize || file_end >= kMaxImageSize) {
    return fail("the launcher would be larger than the 2 GiB a Windows program can be");
  }
  layout.size_of_image = static_cast<std::uint32_t>(size_of_image);
  layout.file_size = file_end;
  std::uint64_t initialized = 0;
  for (const PeSection& section : layout.sections) {
    if (section.characteristics & kInitializedData) initialized += section.raw_size;
  }
  layout.size_of_initialized_data = static_cast<std::uint32_t>(initialized);
  return ok();
}

}  // namespace quorin::packer
