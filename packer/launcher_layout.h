// Where everything of a launcher lies: the stub's sections kept as they are,
// then .quorin (the attached data), .rsrc and the stub's .reloc moved after
// them, and the header fields that follow from it. Pure code: numbers in,
// numbers out; pe_writer.cpp writes what this plans.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "packer/pe_image.h"
#include "packer/result.h"

namespace quorin::packer {

inline constexpr char kAttachedSectionName[] = ".quorin";
inline constexpr std::uint64_t kAttachedAlignment = 4096;
// The largest image the writer makes: PE sizes and offsets are 32-bit, and
// Windows maps no image of 2 GiB or more.
inline constexpr std::uint64_t kMaxImageSize = std::uint64_t{1} << 31;

// What the stub alone decides: the first step, before the attached data is
// written (its length is known only once it is).
struct StubLayout {
  std::vector<PeSection> kept;  // the stub's sections but .reloc, as they are
  bool has_relocations = false;
  PeSection relocations;        // the stub's .reloc, where the stub has it
  std::uint32_t relocations_size = 0;  // its data directory's size
  std::uint32_t baked_offset = 0;      // file offset of the baked block
  std::uint64_t stub_end = 0;          // headers and kept sections: copied as they are
  std::uint32_t attached_offset = 0;   // stub_end on a 4 KiB boundary
  std::uint32_t attached_rva = 0;      // after the kept sections, on a section boundary
  std::uint32_t section_alignment = 0;
  std::uint32_t file_alignment = 0;
};

// The launcher's sections and the header fields that change. The second
// step (plan_launcher) places .quorin and where .rsrc starts; the resource
// section's bytes name their own RVA, so they are made then, and their size
// completes the plan (place_resources).
struct LauncherLayout {
  PeSection attached;
  PeSection resources;
  std::vector<PeSection> sections;  // the new section table, in order
  std::uint64_t file_size = 0;
  std::uint32_t size_of_image = 0;
  std::uint32_t size_of_initialized_data = 0;
};

// Checks that the stub is the shape the writer extends (x64, the baked block
// in its section with its magic, no resources or attached data, .reloc last,
// room for three more section headers) and lays out its part.
Result plan_stub(std::string_view stub, const PeImage& image, StubLayout& layout);

// .quorin for attached data of this length, and .rsrc's start; refuses an
// image that would reach 2 GiB.
Result plan_launcher(const StubLayout& stub, std::uint64_t attached_length, LauncherLayout& layout);

// .rsrc of this size, .reloc after it, the section table, the image's and
// the file's sizes; refuses an image that would reach 2 GiB.
Result place_resources(const StubLayout& stub, std::uint64_t resource_size, LauncherLayout& layout);

}  // namespace quorin::packer
