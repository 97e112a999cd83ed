// The launcher's layout as planned from the stub the packer carries: where
// .quorin, .rsrc and .reloc lie for attached data of a few lengths, and the
// refusal of an image that would reach 2 GiB. Pure: no file is written.
#include <gtest/gtest.h>

#include <algorithm>

#include "packer/launcher_layout.h"
#include "packer/pe_image.h"
#include "packer/stub_image.h"

namespace {

using namespace quorin::packer;

std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

StubLayout stub_layout() {
  const std::string_view stub = stub_image();
  PeImage image;
  EXPECT_TRUE(read_pe_image(reinterpret_cast<const unsigned char*>(stub.data()), stub.size(), image));
  StubLayout layout;
  const Result r = plan_stub(stub, image, layout);
  EXPECT_TRUE(r) << r.error;
  return layout;
}

TEST(LauncherLayout, AttachedDataStartsOnA4KiBBoundaryAfterTheStub) {
  const StubLayout stub = stub_layout();
  EXPECT_EQ(stub.attached_offset % 4096, 0u);
  EXPECT_EQ(stub.attached_rva % 4096, 0u);
  EXPECT_GE(stub.attached_offset, stub.stub_end);
  EXPECT_LT(stub.attached_offset - stub.stub_end, 4096u);
  EXPECT_TRUE(stub.has_relocations);
  for (const PeSection& kept : stub.kept) EXPECT_LT(kept.rva, stub.attached_rva) << kept.name;
}

TEST(LauncherLayout, SectionsForAttachedDataOfEachLength) {
  const StubLayout stub = stub_layout();
  const std::uint32_t fa = stub.file_alignment, sa = stub.section_alignment;
  // What the image has left below 2 GiB where the data starts (the stub's
  // uninitialised data puts its RVA beyond its file offset).
  ASSERT_GE(stub.attached_rva, stub.attached_offset);
  const std::uint64_t room = kMaxImageSize - stub.attached_rva;
  const struct {
    std::uint64_t length, resource_size;
    bool planned, placed;            // plan_launcher and place_resources succeed
    std::uint64_t raw_size, virtual_size;
  } cases[] = {
      {0, 1000, true, true, 0, 1},  // no data still takes a page of the image
      {1, 1000, true, true, fa, 1},
      {4095, 1000, true, true, 4096, 4095},
      {4096, 1000, true, true, 4096, 4096},
      {4097, 0, true, true, 4096 + fa, 4097},
      {room - (1 << 20), 1000, true, true, room - (1 << 20), room - (1 << 20)},
      {room - 4096, 1000, true, false, room - 4096, room - 4096},  // .reloc would end past 2 GiB
      {room, 1000, false, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("attached length " + std::to_string(c.length));
    LauncherLayout layout;
    ASSERT_EQ(static_cast<bool>(plan_launcher(stub, c.length, layout)), c.planned);
    if (!c.planned) continue;
    const PeSection& data = layout.attached;
    EXPECT_EQ(data.name, kAttachedSectionName);
    EXPECT_EQ(data.raw_offset, stub.attached_offset);
    EXPECT_EQ(data.rva, stub.attached_rva);
    EXPECT_EQ(data.raw_size, c.raw_size);
    EXPECT_EQ(data.virtual_size, c.virtual_size);
    const Result placed = place_resources(stub, c.resource_size, layout);
    ASSERT_EQ(static_cast<bool>(placed), c.placed) << placed.error;
    if (!c.placed) continue;
    const PeSection& resources = layout.resources;
    EXPECT_EQ(resources.raw_offset, data.raw_offset + data.raw_size);
    EXPECT_EQ(resources.rva, align_up(data.rva + data.virtual_size, sa));
    EXPECT_EQ(resources.virtual_size, c.resource_size);
    EXPECT_EQ(resources.raw_size, align_up(c.resource_size, fa));
    ASSERT_EQ(layout.sections.size(), stub.kept.size() + 3);
    const PeSection& relocations = layout.sections.back();
    EXPECT_EQ(layout.sections[stub.kept.size()].name, kAttachedSectionName);
    EXPECT_EQ(layout.sections[stub.kept.size() + 1].name, ".rsrc");
    EXPECT_EQ(relocations.name, ".reloc");
    EXPECT_EQ(relocations.raw_offset, resources.raw_offset + resources.raw_size);
    EXPECT_EQ(relocations.rva, align_up(resources.rva + resources.virtual_size, sa));
    EXPECT_EQ(layout.size_of_image % sa, 0u);
    EXPECT_EQ(layout.size_of_image, align_up(relocations.rva + std::max(relocations.virtual_size, relocations.raw_size), sa));
    EXPECT_LT(layout.size_of_image, kMaxImageSize);
    EXPECT_EQ(layout.file_size, std::uint64_t{relocations.raw_offset} + relocations.raw_size);
  }
}

}  // namespace
