// The launcher as the packer writes it from the stub: its layout (the
// attached data on a 4 KiB boundary, resources and relocations after it),
// its checksum, a toolchain's reading of it, and a signature that covers the
// attached data. Runs the packer, objdump and osslsigncode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/stub_image.h"
#include "tests/common/signing.h"
#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;
using namespace quorin::packer;

std::uint32_t stored_pe_checksum(const std::string& file, const PeImage& image) {
  std::uint32_t value = 0;
  std::memcpy(&value, file.data() + image.optional_offset + kOptionalCheckSum, 4);
  return value;
}

PeImage read_image(const std::string& file) {
  PeImage image;
  const Result r = read_pe_image(reinterpret_cast<const unsigned char*>(file.data()), file.size(), image);
  EXPECT_TRUE(r) << r.error;
  return image;
}

TEST(PeWriter, ChecksumAgreesWithTheLinkersOwnOnTheStub) {
  const std::string stub(stub_image());
  const PeImage image = read_image(stub);
  EXPECT_NE(stored_pe_checksum(stub, image), 0u);
  EXPECT_EQ(pe_checksum(reinterpret_cast<const unsigned char*>(stub.data()), stub.size(),
                        image.optional_offset + kOptionalCheckSum),
            stored_pe_checksum(stub, image));
}

TEST(PeWriter, AttachedDataOnA4KiBBoundaryThenResourcesThenRelocations) {
  Scratch scratch("pe_layout");
  const std::string attached = attached_data(archive_bytes({{u"app.exe", "MZ" + noise(70001, 3), {}}}));
  write_file(scratch / "attached", attached);
  const ProgramRun build =
      run_pack({"build", "--attached", (scratch / "attached").string(), "--output", (scratch / "l.exe").string()});
  ASSERT_EQ(build.code, 0) << build.err;
  const std::string exe = read_file(scratch / "l.exe");
  const PeImage image = read_image(exe);
  ASSERT_GE(image.sections.size(), 3u);
  const std::size_t n = image.sections.size();
  EXPECT_EQ(image.sections[n - 3].name, ".quorin");
  EXPECT_EQ(image.sections[n - 2].name, ".rsrc");
  EXPECT_EQ(image.sections[n - 1].name, ".reloc");
  const PeSection& data = image.sections[n - 3];
  EXPECT_EQ(data.raw_offset % 4096, 0u);
  EXPECT_EQ(data.rva % 4096, 0u);
  // The attached data, then its index on an 8-byte boundary: a header of 40
  // bytes, the one entry (2 + 14 + 12) and the checksum.
  const std::size_t index_at = (attached.size() + 7) / 8 * 8;
  EXPECT_EQ(data.virtual_size, index_at + 40 + 28 + 4);
  EXPECT_TRUE(exe.compare(data.raw_offset, attached.size(), attached) == 0);
  EXPECT_TRUE(exe.compare(data.raw_offset + index_at, 4, "QZIX") == 0);
  EXPECT_EQ(image.directories[kDirectoryResource].rva, image.sections[n - 2].rva);
  EXPECT_EQ(image.directories[kDirectoryBaseRelocation].rva, image.sections[n - 1].rva);
  const PeSection& last = image.sections[n - 1];
  EXPECT_EQ(image.size_of_image, (last.rva + last.virtual_size + 4095) / 4096 * 4096);
  EXPECT_EQ(exe.size(), std::size_t{last.raw_offset} + last.raw_size);
  EXPECT_EQ(pe_checksum(reinterpret_cast<const unsigned char*>(exe.data()), exe.size(),
                        image.optional_offset + kOptionalCheckSum),
            stored_pe_checksum(exe, image));
  // A toolchain reads it whole.
  const ProgramRun objdump = run_program({"/usr/bin/x86_64-w64-mingw32-objdump", "-p", (scratch / "l.exe").string()});
  EXPECT_EQ(objdump.code, 0) << objdump.err;
  EXPECT_NE(objdump.out.find("Resource Directory [.rsrc]"), std::string::npos);
}

TEST(PeWriter, SignatureVerifiesAndCoversTheAttachedData) {
  Scratch scratch("pe_signing");
  write_file(scratch / "app" / "app.exe", program_bytes(noise(20000, 5)));
  ASSERT_EQ(run_pack({"build", "--input", (scratch / "app").string(), "--child", "app.exe", "--output",
                      (scratch / "l.exe").string()})
                .code,
            0);
  ASSERT_TRUE(quorin::test_signing::sign(scratch.path, scratch / "l.exe", scratch / "signed.exe"))
      << "openssl and osslsigncode sign a launcher";
  EXPECT_TRUE(quorin::test_signing::verify(scratch.path, scratch / "signed.exe"));
  // One byte of the attached data changed: the signature no longer holds.
  std::string changed = read_file(scratch / "signed.exe");
  const PeImage image = read_image(changed);
  const PeSection* data = find_section(image, ".quorin");
  ASSERT_NE(data, nullptr);
  changed[data->raw_offset + data->virtual_size / 2] ^= 0x01;
  write_file(scratch / "changed.exe", changed);
  EXPECT_FALSE(quorin::test_signing::verify(scratch.path, scratch / "changed.exe"));
}

TEST(PeWriter, RefusesAStubItCannotExtend) {
  std::string stub(stub_image());
  const PeImage image = read_image(stub);
  const auto nothing = [](std::FILE*, std::uint64_t& length, std::string&) {
    length = 0;
    return ok();
  };
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  // Its constants' section renamed.
  std::string renamed = stub;
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    if (image.sections[i].name == ".qconst") renamed[image.section_table_offset + kSectionHeaderSize * i + 1] = 'x';
  }
  EXPECT_NE(write_launcher(renamed, default_constants(), {}, nothing, out).error.find("no section for its constants"),
            std::string::npos);
  EXPECT_NE(write_launcher(stub.substr(0, 100), default_constants(), {}, nothing, out).error, "");
  std::fclose(out);
}

}  // namespace
