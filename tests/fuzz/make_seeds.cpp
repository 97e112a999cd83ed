// Writes the fuzzers' seed corpora, small inputs near each target's rules
// and limits: make_seeds DIR writes DIR/<target>/<name> for every target,
// replacing what was there. Programs and launchers are built here byte by
// byte, their resources by the packer's own resource writer. Host test code:
// writes files.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "generated/baked_layout.h"
#include "packer/index_writer.h"
#include "packer/resources.h"
#include "payload/record.h"
#include "tests/common/archive_bytes.h"
#include "tests/common/icon_bytes.h"
#include "tests/common/pe_bytes.h"
#include "tests/common/zstd_frame.h"

namespace {

namespace fs = std::filesystem;
using namespace quorin::test_archive;

fs::path g_root;

void write_seed(const char* target, const std::string& name, const std::string& bytes) {
  const fs::path dir = g_root / target;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "make_seeds: cannot write %s\n", (dir / name).c_str());
    std::exit(1);
  }
}

std::string utf16le(const std::u16string& text) {
  std::string out;
  for (const char16_t unit : text) put_le(out, unit, 2);
  return out;
}

// The archive fuzzer's input is the attached data after its signature.
void write_archive_seed(const std::string& name, const std::string& frame, bool trailing_fields = true) {
  write_seed("archive", name, attached_of(frame, trailing_fields).substr(3));
}

void write_archive_seeds() {
  const std::vector<Entry> tree = {
      {u"app.exe", "MZ" + std::string(100, 'x'), std::nullopt},
      {u"lib\\core.dll", pattern(700, 1), std::nullopt},
      {u"data\\readme.txt", "read me\r\n", std::nullopt},
      {u"empty.txt", "", std::nullopt},
  };
  const std::string archive = archive_bytes(tree);
  write_archive_seed("end_marker_only", zstd_frame(archive_bytes({}), {}));
  write_archive_seed("tree", zstd_frame(archive, {}));
  write_archive_seed("tree_checksum_content_size", zstd_frame(archive, {17, true, true}));
  write_archive_seed("tree_no_trailing_fields", zstd_frame(archive, {}), false);
  write_archive_seed("tree_raw_blocks", frame_of(raw_blocks(archive, 100)));
  write_archive_seed("tree_truncated", zstd_frame(archive, {}).substr(0, 40), false);
  write_archive_seed("content_after_end_marker", zstd_frame(archive + "more", {}));
  write_archive_seed("no_end_marker", zstd_frame(archive_bytes(tree, false), {}));
  write_archive_seed("bad_checksum", zstd_frame(archive_bytes({{u"a.bin", "abc", 0u}}), {}));
  // Two frames: the archive goes on in the second.
  write_archive_seed("two_frames", zstd_frame(archive.substr(0, 50), {}) + zstd_frame(archive.substr(50), {}));
  // A window of 2^27, which the fuzzers' decoder refuses.
  write_archive_seed("large_window", frame_of(raw_blocks(archive), window_descriptor(17, 0)));
  // Names the rule refuses, and names at its limits.
  write_archive_seed("bad_names", zstd_frame(archive_bytes({{u"CON", "x", std::nullopt},
                                                            {u"sub\\nul.txt", "x", std::nullopt},
                                                            {u"..\\up", "x", std::nullopt},
                                                            {u"a.", "x", std::nullopt},
                                                            {u"c:x", "x", std::nullopt},
                                                            {u"\xD800z", "x", std::nullopt}}),
                                               {}));
  write_archive_seed("name_1023_units", zstd_frame(archive_bytes({{std::u16string(255, u'n') + u"\\" +
                                                                       std::u16string(255, u'n') + u"\\" +
                                                                       std::u16string(255, u'n') + u"\\" +
                                                                       std::u16string(255, u'n'),
                                                                   "x", std::nullopt}}),
                                                   {}));
  write_archive_seed("name_1024_units", zstd_frame(archive_bytes({{std::u16string(1024, u'n'), "x", std::nullopt}}), {}));
  // Data that crosses the 128 KiB window: one run-length block.
  std::string header = archive_bytes({{u"run.bin", std::string(200000, 'r'), std::nullopt}});
  const std::string run_header = header.substr(0, header.size() - 200000 - 2);
  write_archive_seed("run_length_data", frame_of({{false, run_header, 0}, {true, "r", 131072}, {true, "r", 68928},
                                                  {false, std::string(2, '\0'), 0}}));
}

// The attached data the archive seeds start from, whole.
std::string sample_attached_data() {
  return attached_of(zstd_frame(archive_bytes({{u"app.exe", "MZ" + std::string(100, 'x'), std::nullopt},
                                               {u"lib\\core.dll", pattern(700, 1), std::nullopt},
                                               {u"empty.txt", "", std::nullopt}}),
                                {}));
}

// A section of a hand-built program: its raw data lies at a multiple of 512
// bytes of the file, at RVA 0x10000 * (its index + 1).
struct Section {
  std::string name;
  std::string data;
};

constexpr std::uint32_t section_rva(std::size_t index) { return 0x10000 * static_cast<std::uint32_t>(index + 1); }

std::size_t align_512(std::size_t size) { return (size + 511) / 512 * 512; }

void set_le(std::string& bytes, std::size_t at, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A Windows program as a linker lays it out: the headers (PE32+, 16 data
// directories, the resource directory on a section named .rsrc), then each
// section's raw data. Not runnable: for the readers only.
std::string program_file(const std::vector<Section>& sections, std::uint16_t machine = 0x8664,
                         std::uint16_t characteristics = 0x0022) {
  std::string header = program_bytes("", machine, 0x20B, characteristics);  // no sections yet
  set_le(header, 0x46, sections.size(), 2);
  const std::size_t optional = 0x40 + 24;
  set_le(header, optional + 32, 0x1000, 4);  // section and file alignment
  set_le(header, optional + 36, 0x200, 4);
  set_le(header, optional + 56, section_rva(sections.size()), 4);
  const std::size_t headers_size = align_512(header.size() + 40 * sections.size());
  set_le(header, optional + 60, headers_size, 4);
  set_le(header, optional + 68, 3, 2);  // console subsystem
  std::string raw;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const Section& section = sections[i];
    std::string entry = section.name.substr(0, 8);
    entry.resize(8, '\0');
    put_le(entry, section.data.size(), 4);
    put_le(entry, section_rva(i), 4);
    put_le(entry, align_512(section.data.size()), 4);
    put_le(entry, headers_size + raw.size(), 4);
    put_le(entry, 0, 12);
    put_le(entry, 0x40000040, 4);  // initialised data, readable
    header += entry;
    if (section.name == ".rsrc") {
      set_le(header, optional + 112 + 8 * 2, section_rva(i), 4);
      set_le(header, optional + 112 + 8 * 2 + 4, section.data.size(), 4);
    }
    raw += section.data;
    raw.resize(align_512(raw.size()), '\0');
  }
  header.resize(headers_size, '\0');
  return header + raw;
}

// The raw data of section index of a program_file.
std::size_t section_offset(const std::string& program, std::size_t index) {
  const std::size_t table = 0x40 + 24 + 240;
  std::size_t offset = 0;
  for (int i = 3; i >= 0; --i) offset = offset << 8 | static_cast<unsigned char>(program[table + 40 * index + 20 + i]);
  return offset;
}

// A resource section at RVA rva holding version information 2.4.1.
std::string version_resources(std::uint32_t rva) {
  quorin::packer::VersionTexts texts;
  texts.company = u"Acme";
  texts.product = u"Seed";
  texts.version = u"2.4.1";
  texts.version_parts[0] = 2;
  texts.version_parts[1] = 4;
  texts.version_parts[2] = 1;
  return quorin::packer::resource_section(
      {{quorin::packer::kResourceTypeVersion, 1, 0, quorin::packer::version_info(texts)}}, rva);
}

void write_program_seeds() {
  const char* target = "program";
  const Section code{".text", "\xC3"};
  const std::string with_version = program_file({code, {".rsrc", version_resources(section_rva(1))}});
  write_seed(target, "with_version", with_version);
  write_seed(target, "no_resources", program_file({code}));
  write_seed(target, "no_sections", program_bytes("MZ"));
  write_seed(target, "dll", program_file({code}, 0x8664, 0x2022));
  write_seed(target, "x86", program_file({code}, 0x014C));
  write_seed(target, "arm64", program_file({code}, 0xAA64));
  // Its resource section goes on past the end: the version is not read.
  write_seed(target, "resources_past_end_of_file", with_version.substr(0, section_offset(with_version, 1) + 16));
  write_seed(target, "imports", image_with_imports({"KERNEL32.dll", "sqlite3.dll", "vcruntime140.dll"}, {"late"}));
  write_seed(target, "dll_imports", image_with_imports({"zlib1.dll"}, {}, 0x2022));
  write_seed(target, "script", "#!/bin/sh\necho hello\n");
  write_seed(target, "elf", std::string("\x7F" "ELF\x02\x01\x01", 7) + std::string(57, '\0'));
}

void write_icon_seeds() {
  const char* target = "icon";
  const std::string dib = dib_image(16, 32), png = png_start(256);
  write_seed(target, "dib_and_png", ico_file({{16, dib}, {32, dib_image(32, 4)}, {0, png}}, 3));
  write_seed(target, "dib_1bit", ico_file({{48, dib_image(48, 1)}}, 1));
  write_seed(target, "zero_images", ico_file({}, 0));
  write_seed(target, "count_past_end", ico_file({{16, "tiny"}}, 3));
  write_seed(target, "offset_past_end", ico_file({{16, dib, 5000}}, 1));
  write_seed(target, "size_past_end", ico_file({{16, dib, 0, 5000}}, 1));
  write_seed(target, "same_data_twice", ico_file({{16, dib}, {16, "", 38, static_cast<std::uint32_t>(dib.size())}}, 2));
}

// A launcher as the packer lays it out: code, the baked constants, the
// attached data and the resources. length, when not 0, replaces the
// attached data's length in the constants.
std::string launcher_file(const std::string& attached, std::uint64_t length = 0) {
  std::string baked(quorin::generated::kBakedSize, '\0');
  baked.replace(0, sizeof quorin::generated::kBakedMagic, quorin::generated::kBakedMagic,
                sizeof quorin::generated::kBakedMagic);
  set_le(baked, quorin::generated::kBakedAttachedRvaOffset, section_rva(2), 8);
  set_le(baked, quorin::generated::kBakedAttachedLengthOffset, length != 0 ? length : attached.size(), 8);
  return program_file({{".text", "\xC3"},
                       {quorin::generated::kBakedSectionName, baked},
                       {".quorin", attached},
                       {".rsrc", version_resources(section_rva(3))}});
}

void write_launcher_seeds() {
  const char* target = "launcher";
  const std::string attached = sample_attached_data();
  const std::string launcher = launcher_file(attached);
  write_seed(target, "launcher", launcher);
  write_seed(target, "attached_data_file", attached);
  write_seed(target, "stub", launcher_file("", 0));
  write_seed(target, "no_signature", launcher_file("QZX" + attached.substr(3)));
  write_seed(target, "length_past_section", launcher_file(attached, attached.size() + 4096));
  write_seed(target, "length_below_signature", launcher_file(attached, 2));
  // Cut inside the attached data, whose section still claims all of it.
  write_seed(target, "attached_past_end_of_file", launcher.substr(0, section_offset(launcher, 2) + 40));
  write_seed(target, "not_a_launcher", program_file({{".text", "\xC3"}}));
}

void write_spec_seeds() {
  const char* target = "spec";
  write_seed(target, "default", utf16le(u"{CACHE_DIR}\\Brindlex\\PocketVariant\\{VERSION}\\20260923_175815"));
  write_seed(target, "every_name",
             utf16le(u"{TEMP}{PROGRAM}{PROGRAM_BASE}{PROGRAM_DIR}{PID}{HOME}{CACHE_DIR}{COMPANY}{PRODUCT}"
                     u"{VERSION}{FILE_VERSION}{PRODUCT_VERSION}{RANDOM}{TIME_US}{TIME}"));
  write_seed(target, "letter_case", utf16le(u"{temp}\\{Time_Us}\\{cache_dir}"));
  write_seed(target, "braces", utf16le(u"a}b{{PID}c{unknown}d{}e{open"));
  write_seed(target, "non_ascii", utf16le(u"\u00C9t\u00E9\\{H\u00D3ME}\\\U0001F600\\\xD800"));
  write_seed(target, "name_1023_units", utf16le(u"{" + std::u16string(1023, u'N') + u"}"));
  write_seed(target, "name_1024_units", utf16le(u"{" + std::u16string(1024, u'N') + u"}"));
  write_seed(target, "empty", "");
}

void write_index_seeds() {
  const char* target = "index";
  using quorin::packer::index_bytes;
  write_seed(target, "three_entries",
             index_bytes({{u"app.exe", 70000, 0x1234ABCD}, {u"lib\\core.dll", 0, 1}, {u"data\\a b\\c.txt", 7, 9}},
                         70200));
  write_seed(target, "empty", index_bytes({}, 16));
  write_seed(target, "non_ascii", index_bytes({{u"donn\u00e9es\\\U0001F600.txt", 3, 5}}, 100));
}

void write_record_seeds() {
  const char* target = "record";
  const auto record = [](const std::wstring& company, const std::wstring& product, const std::string& index) {
    std::string out(quorin::payload::record_size(company.size(), product.size(), index.size()), '\0');
    quorin::payload::record_write(reinterpret_cast<unsigned char*>(out.data()), company.c_str(), company.size(),
                                  product.c_str(), product.size(),
                                  reinterpret_cast<const unsigned char*>(index.data()), index.size());
    return out;
  };
  using quorin::packer::index_bytes;
  write_seed(target, "three_entries",
             record(L"Acme", L"My App", index_bytes({{u"app.exe", 70000, 0x1234ABCD}, {u"lib\\core.dll", 0, 1},
                                                     {u"data\\a b\\c.txt", 7, 9}}, 70200)));
  write_seed(target, "empty_texts", record(L"", L"", index_bytes({}, 16)));
  write_seed(target, "non_ascii", record(L"\u00c9t\u00e9", L"\U0001F600", index_bytes({{u"x", 3, 5}}, 100)));
}

void write_entry_name_seeds() {
  const char* target = "entry_name";
  const std::vector<std::pair<const char*, std::u16string>> names = {
      {"plain", u"app.exe"},
      {"nested", u"lib\\sub\\core.dll"},
      {"device", u"CON"},
      {"device_extension", u"sub\\nul.txt"},
      {"device_blank", u"com1 .log"},
      {"device_superscript", u"LPT\u00B9"},
      {"console", u"conout$.x"},
      {"trailing_dot", u"a."},
      {"trailing_blank", u"dir \\a"},
      {"dot_dot", u"..\\up"},
      {"leading_backslash", u"\\root"},
      {"drive", u"C:\\x"},
      {"stream", u"a:b"},
      {"slash", u"a/b"},
      {"forbidden", u"a?b"},
      {"control", u"a\x01"},
      {"folder_record", u"sub\\~QUORIN-RECORD.BIN"},
      {"pair", u"\xD83D\xDE00.txt"},
      {"lone_high", u"\xD800"},
      {"lone_low", u"x\xDC00"},
      {"component_255", std::u16string(255, u'c')},
      {"component_256", std::u16string(256, u'c')},
      {"name_1023", std::u16string(255, u'c') + u"\\" + std::u16string(255, u'c') + u"\\" + std::u16string(255, u'c') +
                        u"\\" + std::u16string(255, u'c')},
      {"name_1024", std::u16string(255, u'c') + u"\\" + std::u16string(255, u'c') + u"\\" + std::u16string(255, u'c') +
                        u"\\" + std::u16string(256, u'c')},
  };
  for (const auto& [name, text] : names) write_seed(target, name, utf16le(text));
}

void write_command_line_seeds() {
  const char* target = "command_line";
  // Arguments, each ended by a 0 unit.
  const auto args = [](const std::vector<std::u16string>& list) {
    std::string out;
    for (const std::u16string& arg : list) out += utf16le(arg + u'\0');
    return out;
  };
  write_seed(target, "none", "");
  write_seed(target, "examples", args({u"report.txt", u"C:\\dir\\", u"two words", u"say \"hi\"", u"C:\\my dir\\",
                                       u"a\\\"b"}));
  write_seed(target, "empty_arguments", args({u"", u"x", u""}));
  write_seed(target, "white_space", args({u"tab\there", u"line\nfeed", u"vertical\vtab", u" "}));
  write_seed(target, "backslashes", args({u"\\", u"\\\\\\", u"a\\\\b\\c", u"\\\\\" \\\\", u"\"\"", u"\\\"\\"}));
  write_seed(target, "non_ascii", args({u"\u00E9t\u00E9", u"\xD83D\xDE00 x", u"\xDC00"}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  g_root = argv[1];
  fs::remove_all(g_root);
  write_archive_seeds();
  write_program_seeds();
  write_icon_seeds();
  write_launcher_seeds();
  write_spec_seeds();
  write_index_seeds();
  write_record_seeds();
  write_entry_name_seeds();
  write_command_line_seeds();
  return 0;
}
