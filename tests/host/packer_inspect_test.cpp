// list, verify and extract on attached data crafted byte by byte (sound, and
// damaged in each way the checks look for) and on launchers the packer built.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "packer/attached_reader.h"
#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// What verify printed before its summary line.
std::vector<std::string> problems_of(const ProgramRun& run, const std::string& file) {
  std::vector<std::string> problems;
  for (const std::string& line : lines_of(run.out)) {
    EXPECT_EQ(line.rfind(file + ": ", 0), 0u) << line;
    problems.push_back(line.substr(file.size() + 2));
  }
  if (!problems.empty()) problems.pop_back();
  return problems;
}

std::string archive_tree_listing(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = read_file(entry.path());
  }
  std::string listing;
  for (const auto& [name, data] : files) listing += name + " " + std::to_string(data.size()) + " " + hex32(stored_checksum_of(data)) + "\n";
  return listing;
}

const std::string kApp = program_bytes(noise(5000, 1));
const std::string kReadme = text(300000, 2);

std::vector<Entry> good_entries() {
  return {{u"app.exe", kApp, {}}, {u"data\\readme.txt", kReadme, {}}, {u"empty.txt", "", {}}};
}

// ---- list ----

TEST(PackerList, ShowsEntriesInArchiveOrderWithTotalsAndFrame) {
  Scratch scratch("list");
  const fs::path file = scratch / "good.bin";
  write_file(file, attached_data(archive_bytes(good_entries())));
  const ProgramRun run = run_pack({"list", file.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = lines_of(run.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "          SIZE  CHECKSUM  NAME");
  char size[32];
  std::snprintf(size, sizeof size, "%14zu", kApp.size());
  EXPECT_EQ(lines[1], size + std::string("  ") + hex32(stored_checksum_of(kApp)) + "  app.exe");
  EXPECT_EQ(lines[2], "        300000  " + hex32(stored_checksum_of(kReadme)) + "  data\\readme.txt");
  EXPECT_EQ(lines[3], "             0  00000001  empty.txt");
  const std::uint64_t archive = archive_bytes(good_entries()).size();
  for (const std::string& expected :
       {std::string("files: 3"), "bytes: " + std::to_string(300000 + kApp.size()), "archive bytes: " + std::to_string(archive),
        std::string("window: 131072 bytes (2^17)"), std::string("content size flag: no"),
        std::string("checksum flag: no"), std::string("dictionary id: 0")}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected << "\n" << run.out;
  }
  EXPECT_NE(run.out.find("\ncompressed bytes: "), std::string::npos);
  EXPECT_NE(run.out.find("\nratio: "), std::string::npos);
}

TEST(PackerList, FrameFlagsAreShown) {
  Scratch scratch("list_flags");
  const fs::path file = scratch / "flags.bin";
  FrameOptions options;
  options.content_size = true;
  options.checksum = true;
  options.window_log = 20;
  write_file(file, attached_data(archive_bytes(good_entries()), options));
  const ProgramRun run = run_pack({"list", file.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\ncontent size flag: yes\nchecksum flag: yes\n"), std::string::npos) << run.out;
}

// The JSON parses (python3's json module reads it back) and says what the table says.
TEST(PackerList, JsonParsesAndHoldsTheSameFacts) {
  Scratch scratch("list_json");
  const fs::path file = scratch / "good \"quoted\".bin";
  std::vector<Entry> entries = good_entries();
  entries.push_back({u"tab\there\\\u00e9t\u00e9.txt", "x", {}});
  write_file(file, attached_data(archive_bytes(entries)));
  const ProgramRun run = run_pack({"list", "--json", file.string()});
  ASSERT_EQ(run.code, 0) << run.err;
  write_file(scratch / "list.json", run.out);
  const ProgramRun parsed = run_program(
      {"/usr/bin/env", "python3", "-c",
       "import json, sys\n"
       "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
       "for e in d['entries']: print(e['name'].encode('unicode_escape').decode(), e['size'], e['checksum'])\n"
       "t, f = d['totals'], d['frame']\n"
       "print(t['files'], t['bytes'], t['archive_bytes'], f['window_size'], f['window_log'],\n"
       "      f['content_size_flag'], f['checksum_flag'], f['dictionary_id'], d['kind'], d['error'], d['file'])\n",
       (scratch / "list.json").string()});
  ASSERT_EQ(parsed.code, 0) << parsed.err << "\n" << run.out;
  const std::string expected = "app.exe " + std::to_string(kApp.size()) + " " + hex32(stored_checksum_of(kApp)) + "\n" +
                               "data\\\\readme.txt 300000 " + hex32(stored_checksum_of(kReadme)) + "\n" +
                               "empty.txt 0 00000001\n" + "tab\\there\\\\\\xe9t\\xe9.txt 1 " +
                               hex32(stored_checksum_of("x")) + "\n" + "4 " + std::to_string(300001 + kApp.size()) + " " +
                               std::to_string(archive_bytes(entries).size()) +
                               " 131072 17 False False 0 attached data None " + file.string() + "\n";
  EXPECT_EQ(parsed.out, expected);
}

// ---- verify (and list) on damaged attached data ----

struct Damage {
  std::string name;
  std::string attached;
  std::vector<std::string> problems;  // each the start of one line, in order
  bool list_fails = false;            // the walk cannot reach the end marker
};

std::string with_byte_flipped(std::string attached, std::size_t at) {
  attached[at] = static_cast<char>(attached[at] ^ 0x40);
  return attached;
}

std::vector<Damage> damages() {
  std::vector<Damage> cases;
  const std::string good = attached_data(archive_bytes(good_entries()));
  cases.push_back({"good", good, {}});

  std::vector<Entry> entries = good_entries();
  entries[1].stored_checksum = stored_checksum_of(kReadme) ^ 0x10;
  cases.push_back({"wrong_checksum", attached_data(archive_bytes(entries)),
                   {"entry 2 ('data\\readme.txt'): its stored checksum is " + hex32(stored_checksum_of(kReadme) ^ 0x10) +
                    " but its data's is " + hex32(stored_checksum_of(kReadme))}});
  entries[1].stored_checksum = 0;
  cases.push_back({"zero_checksum", attached_data(archive_bytes(entries)),
                   {"entry 2 ('data\\readme.txt'): its stored checksum is 0"}});

  // Raw (incompressible) data: a flipped byte in a block's content decodes,
  // and only the entry's checksum finds it.
  const std::string random = noise(400000, 5);
  const std::string raw = attached_data(archive_bytes({{u"app.exe", kApp, {}}, {u"random.bin", random, {}}}));
  const std::vector<std::size_t> raw_blocks = block_offsets(raw);
  cases.push_back({"flipped_raw_byte", with_byte_flipped(raw, raw_blocks[2] + 1000),
                   {"entry 2 ('random.bin'): its stored checksum is " + hex32(stored_checksum_of(random)) +
                    " but its data's is "}});
  // A block header marked with the reserved type: the decoder refuses it.
  std::string reserved = good;
  reserved[block_offsets(good)[1]] |= 0x06;
  cases.push_back({"reserved_block",
                   reserved,
                   {"archive: the frame cannot be decoded "},
                   true});

  for (const std::u16string& bad : {std::u16string(u"..\\evil.txt"), std::u16string(u"C:\\x"), std::u16string(u"a/b"),
                                    std::u16string(u"a\\\\b"), std::u16string(u"\\x"), std::u16string(u"x<y"),
                                    std::u16string(u"a\\.\\b"), std::u16string(u"NUL"), std::u16string(u"sub\\com1.log"),
                                    std::u16string(u"CONIN$"), std::u16string(u"x\\") + char16_t(0xD800),
                                    std::u16string(256, u'a')}) {
    const std::string shown = bad.size() > 100 ? std::string(256, 'a') : quorin::packer::printable_name(bad);
    cases.push_back({"bad_name_" + std::to_string(cases.size()),
                     attached_data(archive_bytes({{u"app.exe", kApp, {}}, {bad, "x", {}}})),
                     {"entry 2 ('" + shown + "'): "}});
  }
  const std::u16string component(255, u'a');
  const std::u16string longest = component + u"\\" + component + u"\\" + component + u"\\" + component;
  cases.push_back({"longest_name", attached_data(archive_bytes({{u"app.exe", kApp, {}}, {longest, "x", {}}})), {}});
  // The launcher stops at a name of 1024 units: so does the walk.
  cases.push_back({"name_of_1024_units",
                   attached_data(archive_bytes({{u"app.exe", kApp, {}}, {std::u16string(1024, u'a'), "x", {}}})),
                   {"archive: the name of entry 2 has more than 1023 UTF-16 units; the launcher stops there"},
                   true});
  // A name that another entry needs as a folder.
  cases.push_back({"file_and_folder",
                   attached_data(archive_bytes({{u"app.exe", kApp, {}}, {u"d", "x", {}}, {u"D\\x", "x", {}}})),
                   {"entry 3 ('D\\x'): it lies in a folder named like the file entry 2 ('d')"}});
  cases.push_back({"same_name", attached_data(archive_bytes({{u"app.exe", kApp, {}}, {u"app.exe", "x", {}}})),
                   {"entry 2 ('app.exe'): the same name as entry 1"}});
  cases.push_back({"same_name_but_case",
                   attached_data(archive_bytes({{u"app.exe", kApp, {}}, {u"d\\x", "x", {}}, {u"D\\X", "x", {}}})),
                   {"entry 3 ('D\\X'): differs from entry 2 ('d\\x') only in letter case"}});

  cases.push_back({"no_end_marker", attached_data(archive_bytes(good_entries(), false)),
                   {"archive: the frame's content ends after entry 3, without the end marker"},
                   true});
  cases.push_back({"cut_in_a_header", attached_data(archive_bytes(good_entries(), false) + std::string("ab\0", 3)),
                   {"archive: the frame's content ends inside the name of entry 4, without the end marker"},
                   true});
  for (const std::string& child : {std::string("plain text"), std::string(""), std::string("M")}) {
    cases.push_back({"child_not_a_program_" + std::to_string(child.size()),
                     attached_data(archive_bytes({{u"notes.txt", child, {}}, {u"app.exe", kApp, {}}})),
                     {"entry 1 ('notes.txt'): the launcher starts the first entry, but it is not a Windows program"}});
  }
  cases.push_back({"end_marker_alone", attached_data(archive_bytes({})), {"archive: it holds no entries"}});
  cases.push_back({"content_after_end_marker", attached_data(archive_bytes(good_entries()) + "junk"),
                   {"archive: 4 bytes follow the end marker inside the frame"}});

  FrameOptions wide;
  wide.window_log = 27;
  cases.push_back({"window_2^27", attached_data(archive_bytes(good_entries()), wide), {}});
  wide.window_log = 28;
  cases.push_back({"window_2^28",
                   attached_data(archive_bytes(good_entries()), wide),
                   {"frame: its window is 268435456 bytes (2^28), the launcher's decoder takes at most 134217728"},
                   true});

  std::string long_trailer = good.substr(0, good.size() - 8) + std::string(1, '\0');
  put_le(long_trailer, long_trailer.size(), 8);
  cases.push_back({"six_zero_bytes", long_trailer, {"envelope: 14 bytes follow the frame; the trailing fields are 13"}});
  std::string wrong_length = good;
  wrong_length[wrong_length.size() - 8] = static_cast<char>(wrong_length[wrong_length.size() - 8] + 1);
  cases.push_back({"wrong_trailing_length", wrong_length,
                   {"envelope: the trailing length is " + std::to_string(good.size() - 7) + ", not " +
                    std::to_string(good.size() - 8)}});
  std::string not_zero = good;
  not_zero[not_zero.size() - 10] = 'x';
  cases.push_back({"trailing_bytes_not_zero", not_zero,
                   {"envelope: the five bytes before the trailing length are not all 0"}});
  cases.push_back({"no_frame", std::string("QZY") + "not a frame at all" + std::string(5, '\0') + "12345678",
                   {"frame: no Zstandard frame after the signature", "envelope: the trailing length is"},
                   true});
  return cases;
}

TEST(PackerVerify, ReportsEachProblemOnALineOfItsOwn) {
  Scratch scratch("verify");
  for (const Damage& damage : damages()) {
    const fs::path file = scratch / damage.name;
    write_file(file, damage.attached);
    const ProgramRun run = run_pack({"verify", file.string()});
    const std::vector<std::string> problems = problems_of(run, file.string());
    if (damage.problems.empty()) {
      EXPECT_EQ(run.code, 0) << damage.name << "\n" << run.out;
      EXPECT_EQ(run.out, file.string() + ": ok\n") << damage.name;
      continue;
    }
    EXPECT_EQ(run.code, 1) << damage.name;
    ASSERT_EQ(problems.size(), damage.problems.size()) << damage.name << "\n" << run.out;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].rfind(damage.problems[i], 0), 0u) << damage.name << "\n" << problems[i];
    }
    const std::string summary = std::to_string(problems.size()) + (problems.size() == 1 ? " problem" : " problems");
    EXPECT_EQ(lines_of(run.out).back(), file.string() + ": " + summary);

    // list shows what it can and fails only where the archive cannot be walked.
    const ProgramRun list = run_pack({"list", file.string()});
    EXPECT_EQ(list.code, damage.list_fails ? 1 : 0) << damage.name << "\n" << list.err;
    EXPECT_EQ(lines_of(list.err).size(), damage.list_fails ? 1u : 0u) << damage.name << "\n" << list.err;
  }
}

// A flipped byte in the compressed blocks that carry the files' data is
// found, one way or another: the decoder refuses the block or the data's
// checksum differs. (Nothing guards the names: a flipped letter of a name
// gives another sound name.)
TEST(PackerVerify, FindsAFlippedByteInTheCompressedData) {
  Scratch scratch("flipped");
  const std::string good = attached_data(archive_bytes(good_entries()));
  const std::vector<std::size_t> blocks = block_offsets(good);
  ASSERT_GE(blocks.size(), 3u);
  const std::size_t frame_end = good.size() - 13;
  for (std::size_t at : {blocks[0] + 500, blocks[1] + 1, blocks[1] + 50, (blocks[1] + blocks[2]) / 2, blocks[2] + 3,
                         (blocks.back() + frame_end) / 2, frame_end - 1}) {
    const fs::path file = scratch / ("flipped_" + std::to_string(at));
    write_file(file, with_byte_flipped(good, at));
    const ProgramRun run = run_pack({"verify", file.string()});
    EXPECT_EQ(run.code, 1) << at << "\n" << run.out;
    EXPECT_GE(problems_of(run, file.string()).size(), 1u) << at;
  }
}

// ---- extract ----

TEST(PackerExtract, RoundTripGivesTheInputTree) {
  Scratch scratch("extract");
  const fs::path in = scratch / "in";
  write_file(in / "app.exe", kApp);
  write_file(in / "data" / "readme.txt", kReadme);
  write_file(in / "data" / "deep" / "er" / "still" / "file name (1).txt", "spaces");
  write_file(in / "empty", "");
  write_file(in / "\xc3\xa9t\xc3\xa9" / "\xe6\x97\xa5\xe6\x9c\xac.txt", "non-ASCII");
  write_file(in / "big.bin", noise(3 << 20, 9));
  const fs::path attached = scratch / "attached.bin";
  ASSERT_EQ(run_pack({"archive", "--input", in.string(), "--child", "app.exe", "--output", attached.string()}).code, 0);

  const ProgramRun first = run_pack({"extract", attached.string(), "--output", (scratch / "out").string()});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.out, attached.string() + ": 6 written, 0 unchanged, into " + (scratch / "out").string() + "\n");
  EXPECT_EQ(archive_tree_listing(scratch / "out"), archive_tree_listing(in));

  // A second run finds every file current, as the launcher's second start does;
  // a changed file is written again.
  write_file(scratch / "out" / "data" / "readme.txt", "changed");
  const ProgramRun second = run_pack({"extract", attached.string(), "--output", (scratch / "out").string()});
  EXPECT_EQ(second.out, attached.string() + ": 1 written, 5 unchanged, into " + (scratch / "out").string() + "\n");
  EXPECT_EQ(archive_tree_listing(scratch / "out"), archive_tree_listing(in));
}

// Bad names are not extracted; the rest is, and nothing lands outside DIR.
TEST(PackerExtract, NeverWritesOutsideItsFolder) {
  Scratch scratch("extract_bad");
  const fs::path out = scratch / "deep" / "out";
  const fs::path file = scratch / "bad.bin";
  write_file(file, attached_data(archive_bytes({{u"app.exe", kApp, {}},
                                                {u"..\\evil.txt", "evil", {}},
                                                {u"..\\..\\evil2.txt", "evil", {}},
                                                {u"a/..\\..\\evil3.txt", "evil", {}},
                                                {u"ok\\fine.txt", "fine", {}}})));
  const ProgramRun run = run_pack({"extract", file.string(), "--output", out.string()});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(lines_of(run.err).size(), 3u) << run.err;
  EXPECT_NE(run.err.find("entry 2 ('..\\evil.txt'): not extracted: "), std::string::npos) << run.err;
  EXPECT_EQ(read_file(out / "ok" / "fine.txt"), "fine");
  EXPECT_EQ(read_file(out / "app.exe"), kApp);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(scratch.path)) {
    EXPECT_EQ(entry.path().filename().string().find("evil"), std::string::npos) << entry.path();
  }

  // A symbolic link already in DIR is not followed out of it.
  fs::create_directories(scratch / "elsewhere");
  fs::create_directory_symlink(scratch / "elsewhere", out / "data");
  fs::create_symlink(scratch / "elsewhere" / "target.txt", out / "link.txt");
  for (const std::u16string& name : {std::u16string(u"data\\x.txt"), std::u16string(u"link.txt")}) {
    write_file(file, attached_data(archive_bytes({{u"app.exe", kApp, {}}, {name, "through the link", {}}})));
    const ProgramRun linked = run_pack({"extract", file.string(), "--output", out.string()});
    EXPECT_EQ(linked.code, 1);
    EXPECT_NE(linked.err.find("a symbolic link; extract writes only inside DIR"), std::string::npos) << linked.err;
    EXPECT_TRUE(fs::is_empty(scratch / "elsewhere"));
  }
}

// No file named "~quorin-*" (the temporaries) anywhere under root.
bool no_temporary_under(const fs::path& root) {
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().filename().string().rfind("~quorin-", 0) == 0) return false;
  }
  return true;
}

// Extract stages each file as the launcher does: data whose checksum is wrong
// is reported and never takes the real name, so a file on disk keeps what it
// had; a walk that stops inside an entry leaves neither a partial file nor a
// temporary.
TEST(PackerExtract, DamagedDataNeverReplacesAFileOnDisk) {
  Scratch scratch("extract_checksum");
  const fs::path file = scratch / "bad.bin";
  write_file(file, attached_data(archive_bytes({{u"app.exe", kApp, 1234u}, {u"ok.txt", "fine", {}}})));
  write_file(scratch / "kept" / "app.exe", "the user's own");
  for (const char* folder : {"fresh", "kept"}) {
    const ProgramRun run = run_pack({"extract", file.string(), "--output", (scratch / folder).string()});
    EXPECT_EQ(run.code, 1) << folder;
    EXPECT_NE(run.err.find("entry 1 ('app.exe'): its stored checksum is 000004d2 but its data's is "), std::string::npos)
        << run.err;
    EXPECT_EQ(read_file(scratch / folder / "ok.txt"), "fine");
    EXPECT_TRUE(no_temporary_under(scratch / folder)) << folder;
  }
  EXPECT_FALSE(fs::exists(scratch / "fresh" / "app.exe"));
  EXPECT_EQ(read_file(scratch / "kept" / "app.exe"), "the user's own");

  const std::string frame = zstd_frame(archive_bytes({{u"app.exe", kApp, {}}, {u"big.bin", noise(1 << 20, 3), {}}}), {});
  write_file(file, envelope(frame.substr(0, frame.size() / 2)));
  const ProgramRun cut = run_pack({"extract", file.string(), "--output", (scratch / "cut").string()});
  EXPECT_EQ(cut.code, 1);
  EXPECT_EQ(read_file(scratch / "cut" / "app.exe"), kApp);
  EXPECT_FALSE(fs::exists(scratch / "cut" / "big.bin"));
  EXPECT_TRUE(no_temporary_under(scratch / "cut"));
}

// ---- launchers the packer built ----

std::string entry_table(const std::string& listing) {
  return listing.substr(0, listing.find("\n\n"));
}

TEST(PackerInspectLauncher, ListVerifyAndExtractALauncher) {
  Scratch scratch("launcher");
  const fs::path in = scratch / "in";
  write_file(in / "app.exe", kApp);
  write_file(in / "lib" / "data.txt", kReadme);
  write_file(in / "lib" / "random.bin", noise(200000, 3));
  const fs::path exe = scratch / "app launcher.exe";
  const fs::path attached = scratch / "attached.bin";
  const ProgramRun build = run_pack({"build", "--input", in.string(), "--child", "app.exe", "--output", exe.string()});
  ASSERT_EQ(build.code, 0) << build.err;
  ASSERT_EQ(run_pack({"archive", "--input", in.string(), "--child", "app.exe", "--output", attached.string()}).code, 0);

  const ProgramRun from_exe = run_pack({"list", exe.string()});
  const ProgramRun from_file = run_pack({"list", attached.string()});
  ASSERT_EQ(from_exe.code, 0) << from_exe.err;
  EXPECT_EQ(entry_table(from_exe.out), entry_table(from_file.out));
  EXPECT_NE(from_exe.out.find("attached data: " + std::to_string(fs::file_size(attached)) + " bytes at byte "),
            std::string::npos)
      << from_exe.out;
  EXPECT_NE(from_exe.out.find(" of the launcher\n"), std::string::npos);

  EXPECT_EQ(run_pack({"verify", exe.string()}).out, exe.string() + ": ok\n");
  ASSERT_EQ(run_pack({"extract", exe.string(), "--output", (scratch / "out").string()}).code, 0);
  EXPECT_EQ(archive_tree_listing(scratch / "out"), archive_tree_listing(in));
}

// The attached data is found in a launcher whatever its length modulo 8
// (when it is a multiple of 8, its sound trailing length looks like the
// length the launcher links behind it) and whatever its trailing fields hold.
TEST(PackerInspectLauncher, FindsTheAttachedDataWhateverItsLength) {
  Scratch scratch("launcher_lengths");
  std::map<std::size_t, std::string> by_residue;
  for (std::size_t extra = 0; by_residue.size() < 8 && extra < 200; ++extra) {
    const std::string attached = attached_data(archive_bytes({{u"app.exe", "MZ" + noise(3000 + extra, 4), {}}}));
    by_residue.emplace(attached.size() % 8, attached);
  }
  ASSERT_EQ(by_residue.size(), 8u);
  std::string broken = by_residue[0];
  broken.replace(broken.size() - 8, 8, std::string(8, '\xff'));
  by_residue[8] = broken;
  for (const auto& [residue, attached] : by_residue) {
    const fs::path file = scratch / ("attached_" + std::to_string(residue));
    const fs::path exe = scratch / ("launcher_" + std::to_string(residue) + ".exe");
    write_file(file, attached);
    const ProgramRun build = run_pack({"build", "--attached", file.string(), "--output", exe.string()});
    ASSERT_EQ(build.code, 0) << build.err;
    const ProgramRun list = run_pack({"list", "--json", exe.string()});
    EXPECT_EQ(list.code, 0) << residue << list.err;
    EXPECT_NE(list.out.find("\"attached_bytes\": " + std::to_string(attached.size()) + ",\n"), std::string::npos)
        << residue << "\n" << list.out;
    EXPECT_EQ(problems_of(run_pack({"verify", exe.string()}), exe.string()),
              problems_of(run_pack({"verify", file.string()}), file.string()))
        << residue;
  }
}

// A launcher built from damaged attached data is reported as that data is.
TEST(PackerInspectLauncher, ReportsTheProblemsOfItsAttachedData) {
  Scratch scratch("launcher_damaged");
  const fs::path file = scratch / "no_end_marker.bin";
  const fs::path exe = scratch / "no_end_marker.exe";
  write_file(file, attached_data(archive_bytes(good_entries(), false)));
  ASSERT_EQ(run_pack({"build", "--attached", file.string(), "--output", exe.string()}).code, 0);
  const ProgramRun run = run_pack({"verify", exe.string()});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(problems_of(run, exe.string()),
            std::vector<std::string>{"archive: the frame's content ends after entry 3, without the end marker"});
}

}  // namespace
