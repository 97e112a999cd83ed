// Writes the fuzzers' seed corpora, small inputs near each target's rules
// and limits: make_seeds DIR writes DIR/<target>/<name> for every target,
// replacing what was there. Host test code: writes files.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/archive_bytes.h"
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
  write_spec_seeds();
  write_entry_name_seeds();
  write_command_line_seeds();
  return 0;
}
