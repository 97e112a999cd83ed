// The packer's readers of files a user did not write, through their own
// headers: the frame header, the .ico reader, and files that claim more than
// they hold (a launcher and a child program cut short). Runs quorin-pack.
#include <gtest/gtest.h>

#include "packer/attached_reader.h"
#include "packer/icon.h"
#include "packer/pe_image.h"
#include "packer/program_info.h"
#include "tests/common/icon_bytes.h"
#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer;
using namespace quorin::packer_test;
using namespace quorin::test_archive;
using namespace std::string_literals;

std::string frame_text(const std::string& bytes) {
  FrameHeader h;
  const Result r = read_frame_header(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), h);
  if (!r) return r.error;
  return "window " + std::to_string(h.window_size) + " log " + std::to_string(h.window_log) + " size " +
         (h.content_size_flag ? std::to_string(h.content_size) : "-") + (h.checksum_flag ? " checksum" : "") +
         " dictionary " + std::to_string(h.dictionary_id);
}

void check_frame(const std::string& bytes, const std::string& expected) { EXPECT_EQ(frame_text(bytes), expected); }

const std::string kMagic = "\x28\xB5\x2F\xFD";

TEST(PackerReaders, FrameHeader) {
  const std::string content = text(1000, 1);
  check_frame(zstd_frame(content, {17, false, false}), "window 131072 log 17 size - dictionary 0");
  check_frame(zstd_frame(content, {17, true, true}), "window 1000 log 0 size 1000 checksum dictionary 0");
  check_frame(frame_of(raw_blocks(content), window_descriptor(17, 0)), "window 134217728 log 27 size - dictionary 0");
  check_frame(frame_of(raw_blocks(content), window_descriptor(7, 3)), "window 180224 log 0 size - dictionary 0");
  check_frame(kMagic + "\x41\x50\x01\x01\x01", "window 1048576 log 20 size 513 dictionary 1");
  check_frame(kMagic + "\x03\x00\x78\x56\x34\x12"s, "window 1024 log 10 size - dictionary 305419896");
  check_frame(kMagic + "\x20\x07", "window 7 log 0 size 7 dictionary 0");
  check_frame("\x5A\x2A\x4D\x18\x00\x00\x00\x00"s, "a skippable frame, not a frame of compressed data");
  check_frame("QZY not a frame", "no Zstandard frame after the signature (its magic number is missing)");
  check_frame(kMagic, "the data ends before the frame header");
  check_frame(kMagic + '\0', "the data ends inside the frame header");
  check_frame(kMagic + "\x03\x00\x78\x56"s, "the data ends inside the frame header");
  check_frame(kMagic + "\x08\x38", "the frame header sets its reserved bit");
  check_frame(kMagic + "\x00\xF8"s, "its window is above 2147483648 bytes (2^31), the launcher's decoder takes at "
                                   "most 134217728 (2^27)");
}

void check_icon(const std::string& bytes, const std::string& expected) {
  std::vector<IconImage> images;
  const Result r = parse_icon(bytes, images);
  std::string got = r.error;
  for (const IconImage& i : images) got += r ? std::to_string(i.width) + "x" + std::to_string(i.bit_count) + " " : "";
  EXPECT_EQ(got, expected);
}

TEST(PackerReaders, Icon) {
  const std::string dib = dib_image(16, 32), png = png_start(256);
  check_icon(ico_file({{16, dib}, {0, png}}, 2), "16x32 256x32 ");
  check_icon(ico_file({{32, dib_image(32, 8)}}, 1), "32x8 ");
  check_icon(ico_file({}, 0), "the icon file holds no images");
  check_icon(ico_file({{16, "tiny"}}, 3), "the icon file is cut short");
  check_icon(ico_file({{0, png, 4000}}, 1), "image 1 lies outside the icon file");
  check_icon(ico_file({{0, png, 0, 4000}}, 1), "image 1 lies outside the icon file");
  check_icon(ico_file({{0, png, 0xFFFFFFFF}}, 1), "image 1 lies outside the icon file");
  check_icon(ico_file({{16, dib}, {16, "", 38, static_cast<std::uint32_t>(dib.size())}}, 2),
             "its images claim more bytes than the icon file holds (they overlap)");
  check_icon(ico_file({{16, dib_image(16, 7)}}, 1), "image 1: 7 bits per pixel is not an icon format");
  check_icon(ico_file({{16, dib_image(32, 32)}}, 1), "image 1: its bitmap is 32x32 but the directory says 16x16");
  check_icon(ico_file({{16, std::string(64, 'x')}}, 1), "image 1 is neither a bitmap nor a PNG");
  check_icon("\0\0\2\0\1\0"s, "not an icon file (no .ico header)");
}

// A launcher the packer built, and where a section's raw data starts.
struct Launcher {
  std::string bytes;
  PeImage image;
  std::uint64_t start_of(const char* section) const { return find_section(image, section)->raw_offset; }
};
Launcher build_launcher(const Scratch& scratch) {
  write_file(scratch / "in" / "app.exe", program_bytes(text(5000, 2)));
  const fs::path exe = scratch / "app launcher.exe";
  EXPECT_EQ(run_pack({"build", "--input", (scratch / "in").string(), "--child", "app.exe", "--version", "2.4.1",
                      "--output", exe.string()}).code, 0);
  Launcher launcher;
  launcher.bytes = read_file(exe);
  EXPECT_TRUE(read_pe_image(reinterpret_cast<const unsigned char*>(launcher.bytes.data()), launcher.bytes.size(),
                            launcher.image));
  return launcher;
}

// verify ended with a segmentation fault, list and extract read past the end.
TEST(PackerReaders, LauncherWhoseAttachedDataLiesPastTheEndOfTheFile) {
  Scratch scratch("attached_past_end");
  const Launcher launcher = build_launcher(scratch);
  const fs::path cut = scratch / "cut.exe";
  write_file(cut, launcher.bytes.substr(0, launcher.start_of(".quorin") + 10));
  const std::string line =
      "quorin-pack: '" + cut.string() + "': a launcher whose attached data lies outside the file (";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"verify", cut.string()}, {"list", cut.string()},
                                               {"extract", cut.string(), "--output", (scratch / "out").string()}}) {
    const ProgramRun run = run_pack(args);
    EXPECT_EQ(run.code, 1) << args[0];
    EXPECT_EQ(lines_of(run.err).size(), 1u) << args[0] << run.err;
    EXPECT_EQ(run.err.rfind(line, 0), 0u) << args[0] << run.err;
  }
}

// The version was read from bytes past the file's end: here the rest of the
// whole launcher, over a mapped file a segmentation fault.
TEST(PackerReaders, ChildWhoseResourcesLiePastTheEndOfTheFile) {
  Scratch scratch("resources_past_end");
  const Launcher launcher = build_launcher(scratch);
  const auto* data = reinterpret_cast<const unsigned char*>(launcher.bytes.data());
  EXPECT_EQ(program_file_version(data, launcher.bytes.size()), "2.4.1.0");
  const std::uint64_t cut = launcher.start_of(".rsrc") + 16;
  EXPECT_TRUE(check_x64_program(data, cut));
  EXPECT_EQ(program_file_version(data, cut), std::nullopt);
  EXPECT_EQ(program_version_text(data, launcher.bytes.size(), u"ProductName"), u"app");
  EXPECT_EQ(program_version_text(data, launcher.bytes.size(), u"Comments"), std::nullopt);
  EXPECT_EQ(program_version_text(data, cut, u"ProductName"), std::nullopt);
}

// Explorer's Details and installers read the Windows packer's version from
// its resource: the one --version prints, in four parts.
TEST(PackerReaders, WindowsPackerCarriesItsVersion) {
  const std::string exe = read_file(QUORIN_PACK_WINDOWS);
  EXPECT_EQ(program_file_version(reinterpret_cast<const unsigned char*>(exe.data()), exe.size()),
            std::string(QUORIN_PACKER_VERSION) + ".0");
}

}  // namespace
