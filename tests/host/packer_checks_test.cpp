// What build catches before a launcher ships and how it speaks: the spec read
// as the launcher reads it, a child that must be a Windows x64 program,
// warnings for damaged attached data, defaults that give every application a
// folder of its own, interrupts, the summary line, JSON and short options.
// Runs the packer.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "generated/baked_layout.h"
#include "packer/little_endian.h"
#include "packer/pe_image.h"
#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

struct Tree {
  Scratch scratch;
  explicit Tree(const std::string& name, const std::string& child = program_bytes("child")) : scratch(name) {
    write_file(scratch / "app" / "app.exe", child);
    write_file(scratch / "app" / "data" / "readme.txt", "hello\n");
  }
  std::vector<std::string> build(const std::vector<std::string>& more, const std::string& out = "out.exe") const {
    std::vector<std::string> args = {"build", "--input", (scratch / "app").string(), "--child", "app.exe", "--output",
                                     (scratch / out).string()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
};

// text as a JSON string holds it (backslashes doubled).
std::string json_escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

// The value of "key" in build's --json output (a string's text, or a number).
std::string json_value(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos) return "<none>";
  std::size_t start = at + key.size() + 4;
  if (json[start] == '"') {
    std::string value;
    for (std::size_t i = start + 1; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\') ++i;
      value += json[i];
    }
    return value;
  }
  return json.substr(start, json.find_first_of(",\n", start) - start);
}

TEST(PackerChecks, SpecIsReadAsTheLauncherReadsIt) {
  Tree tree("checks_spec");
  const struct {
    std::string spec;
    int code;
    std::string first_line;  // its start
    std::string caret;       // the line under the spec, or "" for none
  } cases[] = {
      {"{CACHEDIR}\\Acme\\x", 2, "quorin-pack build: --spec: no placeholder is named 'CACHEDIR'", "  ^~~~~~~~~~"},
      {"C:\\{PRODUCT", 2, "quorin-pack build: --spec: the name 'PRODUCT' is left open", "     ^~~~~~~~"},
      {"{AB{TEMP}", 2, "quorin-pack build: --spec: the name 'AB' is left open", "  ^~~"},
      {"x\\{}", 2, "quorin-pack build: --spec: an empty placeholder name", "    ^~"},
      {"{cache_dir}\\{Product}\\{build}", 0, "quorin-pack: wrote", ""},
      {"\\\\server\\share\\{PRODUCT}-{BUILD}", 0, "quorin-pack: wrote", ""},
      {"C:\\Apps\\{PRODUCT}", 0, "quorin-pack: warning: --spec 'C:\\Apps\\{PRODUCT}' gives every build the same folder", ""},
      {"C:\\{BUILD}\\x", 0, "quorin-pack: warning: --spec 'C:\\{BUILD}\\x' has {BUILD} before its last folder name", ""},
      {"rel\\{PRODUCT}", 0, "quorin-pack: warning: --spec 'rel\\{PRODUCT}' is no absolute path", ""},
      {"{PID}\\x", 0, "quorin-pack: warning: --spec '{PID}\\x' is no absolute path", ""},
      {"%LOCALAPPDATA%\\Acme", 2,
       "quorin-pack build: --spec: '%LOCALAPPDATA%' is an environment variable, and the launcher expands none: it "
       "would make a folder of that name; {CACHE_DIR} is the same folder",
       "  ^~~~~~~~~~~~~~"},
      {"c:\\program files\\Acme", 0,
       "quorin-pack: warning: --spec 'c:\\program files\\Acme' lies under c:\\program files, where a launcher started "
       "by a user without administrator rights cannot write",
       ""},
  };
  for (const auto& c : cases) {
    const ProgramRun run = run_pack(tree.build({"--spec", c.spec}));
    EXPECT_EQ(run.code, c.code) << c.spec << "\n" << run.err;
    const std::vector<std::string> lines = lines_of(run.err);
    ASSERT_FALSE(lines.empty()) << c.spec;
    EXPECT_EQ(lines[0].rfind(c.first_line, 0), 0u) << c.spec << "\n" << run.err;
    if (c.caret.empty()) continue;
    ASSERT_GE(lines.size(), 4u) << run.err;
    EXPECT_EQ(lines[1], "  " + c.spec);
    EXPECT_EQ(lines[2], c.caret) << c.spec;
  }
  // The known names come with the nearest first.
  const ProgramRun typo = run_pack(tree.build({"--spec", "{VERSOIN}"}));
  EXPECT_NE(typo.err.find("placeholders: {VERSION} (nearest), {TEMP}"), std::string::npos) << typo.err;
}

TEST(PackerChecks, ChildMustBeAWindowsX64Program) {
  const struct {
    std::string child;
    std::string why;
  } cases[] = {
      {"just some text\n", "not a Windows program (no \"MZ\" at its start)"},
      {"#!/bin/sh\necho hi\n", "a script"},
      {"MZ" + std::string(100, '\0'), "not a Windows program (an MZ file without a PE header: a DOS program?)"},
      {program_bytes("", 0x014C), "a Windows program for x86 (32-bit)"},
      {program_bytes("", 0xAA64), "a Windows program for ARM64"},
      {program_bytes("", 0x8664, 0x10B), "not a PE32+ image"},
      {program_bytes("", 0x8664, 0x20B, 0x2022), "a DLL"},
  };
  for (const auto& c : cases) {
    Tree tree("checks_child", c.child);
    const ProgramRun run = run_pack(tree.build({}));
    EXPECT_EQ(run.code, 1) << c.why;
    EXPECT_NE(run.err.find("quorin-pack: child 'app.exe': " + c.why), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(tree.scratch / "out.exe"));
  }
}

TEST(PackerChecks, AttachedDataIsTakenVerbatimWithAWarningPerProblem) {
  Scratch scratch("checks_attached");
  write_file(scratch / "not attached data", "plain text, no signature");
  std::string damaged = attached_data(archive_bytes({{u"notes.txt", "x", {}}, {u"NUL", "y", {}}}));
  write_file(scratch / "damaged", damaged);
  for (const auto& [file, warnings] : std::vector<std::pair<std::string, std::size_t>>{{"not attached data", 3},
                                                                                        {"damaged", 2}}) {
    const ProgramRun run = run_pack({"build", "--attached", (scratch / file).string(), "--output",
                                     (scratch / "out.exe").string(), "--quiet"});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::vector<std::string> lines = lines_of(run.err);
    EXPECT_EQ(lines.size(), warnings) << run.err;
    for (const std::string& line : lines) EXPECT_EQ(line.rfind("quorin-pack: warning: ", 0), 0u) << line;
    // The data went in as it was.
    const ProgramRun list = run_pack({"verify", "--json", (scratch / "out.exe").string()});
    EXPECT_EQ(list.code, 1);
    EXPECT_NE(list.out.find("\"ok\": false"), std::string::npos);
  }
}

TEST(PackerDefaults, EveryApplicationGetsAFolderOfItsOwnAndTheSameInputsTheSameBytes) {
  Tree first("defaults_first"), second("defaults_second");
  write_file(second.scratch / "app" / "data" / "readme.txt", "another application\n");
  const ProgramRun a = run_pack(first.build({"--json", "-q"}));
  const ProgramRun b = run_pack(second.build({"--json", "-q"}));
  const ProgramRun again = run_pack(first.build({"--json", "-q"}, "again.exe"));
  ASSERT_EQ(a.code, 0) << a.err;
  ASSERT_EQ(b.code, 0) << b.err;
  EXPECT_EQ(json_value(a.out, "product"), "app");
  EXPECT_EQ(json_value(a.out, "company"), "app");
  EXPECT_EQ(json_value(a.out, "version"), "1.0.0");
  // The spec as the launcher expands it but for the user's folder, its stamp
  // 12 hex digits of the content.
  const std::string spec = json_value(a.out, "spec");
  EXPECT_EQ(spec.rfind("{CACHE_DIR}\\app\\app\\1.0.0-", 0), 0u) << spec;
  const std::string stamp = spec.substr(spec.rfind('-') + 1);
  EXPECT_EQ(stamp.size(), 12u) << spec;
  EXPECT_EQ(stamp.find_first_not_of("0123456789abcdef"), std::string::npos) << spec;
  EXPECT_NE(spec, json_value(b.out, "spec"));
  EXPECT_EQ(spec, json_value(again.out, "spec"));
  // The same inputs and name, in another folder, give the same bytes.
  fs::create_directories(first.scratch / "elsewhere");
  ASSERT_EQ(run_pack(first.build({"-q"}, "elsewhere/out.exe")).code, 0);
  EXPECT_TRUE(read_file(first.scratch / "out.exe") == read_file(first.scratch / "elsewhere" / "out.exe"));
  // SOURCE_DATE_EPOCH sets the stamp.
  const ProgramRun dated = run_pack(first.build({"--json", "-q"}), {"SOURCE_DATE_EPOCH=1790000000"});
  EXPECT_EQ(json_value(dated.out, "spec"), "{CACHE_DIR}\\app\\app\\1.0.0-20260921_141320");
  EXPECT_EQ(run_pack(first.build({}), {"SOURCE_DATE_EPOCH=soon"}).code, 2);
}

// The identity comes from the child's version information: a launcher,
// which carries some, as the child of another; options still decide.
TEST(PackerDefaults, IdentityComesFromTheChildAndValuesMustBeFolderNames) {
  const struct {
    std::vector<std::string> child;  // the options of the child's own build
    std::vector<std::string> more;   // the options of the build ("--attached": from attached data)
    std::string company, product, version, spec;  // spec: without the stamp
    std::string warning;  // a part of it, "" for none
  } cases[] = {
      {{"--company", "Versioned Corp", "--product", "Versioned Tool", "--version", "2.5.7.9"}, {},
       "Versioned Corp", "Versioned Tool", "2.5.7.9", "{CACHE_DIR}\\Versioned Corp\\Versioned Tool\\2.5.7.9-", ""},
      // The same child as the first entry of attached data.
      {{"--company", "Versioned Corp", "--product", "Versioned Tool", "--version", "2.5.7.9"}, {"--attached"},
       "Versioned Corp", "Versioned Tool", "2.5.7.9", "{CACHE_DIR}\\Versioned Corp\\Versioned Tool\\2.5.7.9-", ""},
      {{"--company", "Versioned Corp", "--product", "Versioned Tool", "--version", "2.5.7.9"},
       {"--product", "Mine", "--version", "3"}, "Versioned Corp", "Mine", "3", "{CACHE_DIR}\\Versioned Corp\\Mine\\3-",
       ""},
      {{"--company", "Versioned Corp", "--version", "2.5.7.9"}, {"--spec", "{TEMP}\\{COMPANY}\\{FILE_VERSION}\\{PID}"},
       "Versioned Corp", "app", "2.5.7.9", "{TEMP}\\Versioned Corp\\2.5.7.9\\{PID}", ""},
      {{"--version", "2.4.6"}, {}, "app", "app", "2.4.6.0", "{CACHE_DIR}\\app\\app\\2.4.6.0-", ""},
      // Sanitized, with a warning: not the child's author's fault, nor the user's.
      {{"--company", "A/B: C.", "--product", "CON", "--spec", "{TEMP}\\x"}, {}, "A_B_ C", "CON_", "1.0.0.0",
       "{CACHE_DIR}\\A_B_ C\\CON_\\1.0.0.0-", "the child's company 'A/B: C.' cannot be a folder name; the launcher's is 'A_B_ C'"},
  };
  for (const auto& c : cases) {
    Tree inner("defaults_inner");
    ASSERT_EQ(run_pack(inner.build(c.child, "Tool.exe")).code, 0) << c.child[1];
    Scratch outer("defaults_outer");
    fs::create_directories(outer / "app");
    fs::copy_file(inner.scratch / "Tool.exe", outer / "app" / "Tool.exe");
    std::vector<std::string> args = {"build", "--input", (outer / "app").string(), "--child", "Tool.exe", "--output",
                                     (outer / "out.exe").string(), "--json", "-q"};
    if (c.more == std::vector<std::string>{"--attached"}) {
      const std::string attached = (outer / "attached.bin").string();
      ASSERT_EQ(run_pack({"archive", args[1], args[2], args[3], args[4], "--output", attached, "-q"}).code, 0);
      args.erase(args.begin() + 1, args.begin() + 5);
      args.insert(args.begin() + 1, {"--attached", attached});
    } else {
      args.insert(args.end(), c.more.begin(), c.more.end());
    }
    const ProgramRun run = run_pack(args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(json_value(run.out, "company"), c.company);
    EXPECT_EQ(json_value(run.out, "product"), c.product);
    EXPECT_EQ(json_value(run.out, "version"), c.version);
    EXPECT_EQ(json_value(run.out, "spec").rfind(c.spec, 0), 0u) << json_value(run.out, "spec");
    EXPECT_EQ(c.warning.empty(), run.err.empty()) << run.err;
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
    // list reads the same back from the launcher.
    const ProgramRun list = run_pack({"list", "--json", (outer / "out.exe").string()});
    EXPECT_NE(list.out.find("\"spec\": \"" + json_escaped(json_value(run.out, "spec")) + "\", \"company\": \"" +
                            c.company + "\", \"product\": \"" + c.product + "\", \"version\": \"" + c.version + "\""),
              std::string::npos)
        << list.out;
  }
  // Values the default spec makes folders of, given on the command line.
  Tree tree("defaults_folders");
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--company", "A/B"},
                                              std::vector<std::string>{"--product", "CON"},
                                              std::vector<std::string>{"--company", "dots..."}}) {
    const ProgramRun refused = run_pack(tree.build(bad));
    EXPECT_EQ(refused.code, 2) << bad[1];
    EXPECT_NE(refused.err.find("cannot be a folder name on Windows"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(run_pack(tree.build({"--company", "A/B", "--spec", "{TEMP}\\x", "-q"})).code, 0);
}

// The launcher's subsystem is its child's, read from the child's file or
// from the first entry of the attached data; --subsystem decides over both.
TEST(PackerDefaults, SubsystemFollowsTheChild) {
  Scratch scratch("subsystem");
  const std::string console = program_bytes("child", 0x8664, 0x20B, 0x0022, 3);
  const std::string gui = program_bytes("child", 0x8664, 0x20B, 0x0022, 2);
  const std::string native = program_bytes("child", 0x8664, 0x20B, 0x0022, 1);
  write_file(scratch / "console.bin", attached_data(archive_bytes({{u"app.exe", console, {}}})));
  write_file(scratch / "gui.bin", attached_data(archive_bytes({{u"app.exe", gui, {}}})));
  write_file(scratch / "text.bin", attached_data(archive_bytes({{u"notes.txt", "no program", {}}})));
  const struct {
    std::string child;  // the file app.exe, or "" for attached data
    std::string attached;
    std::vector<std::string> more;
    std::string subsystem;
    std::string warning;  // a part of it, "" for none
  } cases[] = {
      {console, "", {}, "console", ""},
      {gui, "", {}, "windows", ""},
      {console, "", {"--subsystem", "windows"}, "windows", ""},
      {gui, "", {"--subsystem", "console"}, "console", ""},
      {native, "", {}, "windows", "has subsystem 1, neither console nor Windows GUI"},
      {"", "console.bin", {}, "console", ""},
      {"", "gui.bin", {}, "windows", ""},
      {"", "gui.bin", {"--subsystem", "console"}, "console", ""},
      {"", "text.bin", {}, "windows", "the launcher starts the first entry, but it is not a Windows program"},
      {"", "text.bin", {"--subsystem", "console"}, "console", "but it is not a Windows program"},
  };
  for (const auto& c : cases) {
    const fs::path out = scratch / "out.exe";
    std::vector<std::string> args = {"build", "--output", out.string(), "--json", "-q"};
    if (c.attached.empty()) {
      write_file(scratch / "in" / "app.exe", c.child);
      args.insert(args.end(), {"--input", (scratch / "in").string(), "--child", "app.exe"});
    } else {
      args.insert(args.end(), {"--attached", (scratch / c.attached).string()});
    }
    args.insert(args.end(), c.more.begin(), c.more.end());
    const ProgramRun run = run_pack(args);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(json_value(run.out, "subsystem"), c.subsystem) << c.attached;
    EXPECT_EQ(c.warning.empty(), run.err.empty()) << run.err;
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
    // The header's field, as Windows reads it, and the checksum over it.
    const std::string exe = read_file(out);
    quorin::packer::PeImage image;
    const auto* data = reinterpret_cast<const unsigned char*>(exe.data());
    ASSERT_TRUE(quorin::packer::read_pe_image(data, exe.size(), image));
    EXPECT_EQ(image.subsystem, c.subsystem == "console" ? 3 : 2);
    EXPECT_EQ(quorin::packer::read_le(data + image.optional_offset + quorin::packer::kOptionalCheckSum, 4),
              quorin::packer::pe_checksum(data, exe.size(), image.optional_offset + quorin::packer::kOptionalCheckSum));
    const ProgramRun list = run_pack({"list", out.string()});
    EXPECT_NE(list.out.find("\nsubsystem: " + c.subsystem + "\n"), std::string::npos) << list.out;
  }
}

// list shows what a launcher carries, a launcher of an earlier packer (its
// block without the index's fields) too; attached data carries none.
TEST(PackerDefaults, ListShowsWhatALauncherCarries) {
  Tree tree("list_identity");
  ASSERT_EQ(run_pack(tree.build({"--company", "Versioned Corp", "--version", "2.5.7.9", "-q"})).code, 0);
  const std::string exe = read_file(tree.scratch / "out.exe");
  quorin::packer::PeImage image;
  ASSERT_TRUE(quorin::packer::read_pe_image(reinterpret_cast<const unsigned char*>(exe.data()), exe.size(), image));
  const quorin::packer::PeSection* baked = quorin::packer::find_section(image, ".qconst");
  ASSERT_NE(baked, nullptr);
  std::string older = exe;
  older.replace(baked->raw_offset, 16, std::string(quorin::generated::kBakedMagicWithoutIndex, 16));
  older.replace(baked->raw_offset + quorin::generated::kBakedIndexRvaOffset, 16, std::string(16, '\0'));
  write_file(tree.scratch / "older.exe", older);
  // The older block carries no build, keep count or window flag: its
  // launcher keeps every build and shows no window.
  const struct {
    const char* name;
    const char* json_settings;
    const char* table_settings;
  } cases[] = {
      {"out.exe", "\"keep_builds\": \"1\", \"progress_window\": \"auto\"}", "keep builds: 1\nprogress window: auto\n"},
      {"older.exe", "\"build\": null, \"keep_builds\": \"all\", \"progress_window\": \"never\"}",
       "subsystem: windows\nkeep builds: all\nprogress window: never\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun json = run_pack({"list", "--json", (tree.scratch / c.name).string()});
    EXPECT_EQ(json.code, 0) << json.err;
    EXPECT_NE(json.out.find("\"launcher\": {\"spec\": \"{CACHE_DIR}\\\\Versioned Corp\\\\app\\\\2.5.7.9-"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"company\": \"Versioned Corp\", \"product\": \"app\", \"version\": \"2.5.7.9\", "
                            "\"subsystem\": \"windows\", "),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find(c.json_settings), std::string::npos) << json.out;
    const ProgramRun table = run_pack({"list", (tree.scratch / c.name).string()});
    EXPECT_NE(table.out.find("\nspec: {CACHE_DIR}\\Versioned Corp\\app\\2.5.7.9-"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\ncompany: Versioned Corp\nproduct: app\nversion: 2.5.7.9\nsubsystem: windows\n"),
              std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find(c.table_settings), std::string::npos) << table.out;
  }
  ASSERT_EQ(run_pack({"archive", "--input", (tree.scratch / "app").string(), "--child", "app.exe", "--output",
                      (tree.scratch / "attached.bin").string(), "-q"})
                .code,
            0);
  const ProgramRun attached = run_pack({"list", "--json", (tree.scratch / "attached.bin").string()});
  EXPECT_NE(attached.out.find("\"launcher\": null"), std::string::npos) << attached.out;
  EXPECT_EQ(run_pack({"list", (tree.scratch / "attached.bin").string()}).out.find("\nspec: "), std::string::npos);
}

// Starts the packer and, after delay, sends it signal; its exit status.
int interrupted_build(const std::vector<std::string>& args, int signal, std::chrono::milliseconds delay) {
  std::vector<std::string> all = args;
  all.insert(all.begin(), QUORIN_PACK);
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  std::this_thread::sleep_for(delay);
  kill(pid, signal);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(PackerInterrupt, CtrlCAndTermRemoveThePartialOutputAndKeepAnEarlierOne) {
  Tree tree("interrupt");
  // Incompressible data at the highest level: seconds of work.
  write_file(tree.scratch / "app" / "big.bin", noise(16 << 20, 7));
  write_file(tree.scratch / "out.exe", "an earlier build");
  for (const int signal : {SIGINT, SIGTERM}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(interrupted_build(tree.build({"--level", "19", "-q"}), signal, std::chrono::milliseconds(700)), 130);
    // At once, not when the work is done.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(read_file(tree.scratch / "out.exe"), "an earlier build");
    for (const auto& entry : fs::directory_iterator(tree.scratch.path)) {
      EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
    }
  }
}

// What lies at and beside --output before a build, and what the build says
// and leaves there.
TEST(PackerOutput, PlaceIsLookedAtBeforeTheBuild) {
  Tree tree("output_place");
  const std::string dead = "4194305";  // above the highest process id Linux gives (2^22)
  const std::string live = std::to_string(getpid());
  const mode_t umask_now = umask(0);
  umask(umask_now);
  const struct {
    std::string output;               // under the scratch folder
    std::vector<std::string> before;  // files made there first
    std::string warning;              // part of stderr; "" for none
    std::vector<std::string> left;    // those of before still there after it
  } cases[] = {
      {"out.exe", {"out.exe.partial-" + dead, "out.exe.partial-" + live, "other.exe.partial-" + dead}, "",
       {"out.exe.partial-" + live, "other.exe.partial-" + dead}},
      {"out", {}, "/out' does not end in .exe: Windows will not start the launcher by that name", {}},
      {"OUT.EXE", {}, "", {}},
      {"app/out.exe", {"app/out.exe", "app/out.exe.partial-" + dead},
       "lies inside --input, so what earlier runs wrote there is not packed: 'out.exe', 'out.exe.partial-4194305'",
       {"app/out.exe"}},
  };
  for (const auto& c : cases) {
    for (const std::string& name : c.before) write_file(tree.scratch / name, "before");
    const ProgramRun run = run_pack(tree.build({"-q"}, c.output));
    EXPECT_EQ(run.code, 0) << c.output << "\n" << run.err;
    if (c.warning.empty()) {
      EXPECT_EQ(run.err, "") << c.output;
    } else {
      EXPECT_NE(run.err.find(c.warning), std::string::npos) << c.output << "\n" << run.err;
    }
    // A program, made as a linker makes one.
    EXPECT_EQ(fs::status(tree.scratch / c.output).permissions(), fs::perms(0777 & ~umask_now)) << c.output;
    for (const std::string& name : c.before) {
      const bool kept = std::find(c.left.begin(), c.left.end(), name) != c.left.end();
      EXPECT_EQ(fs::exists(tree.scratch / name), kept) << name;
      fs::remove(tree.scratch / name);
    }
    fs::remove(tree.scratch / c.output);
  }
}

TEST(PackerOutput, SummaryJsonAndShortOptions) {
  Tree tree("output");
  const ProgramRun plain = run_pack(tree.build({}));
  ASSERT_EQ(plain.code, 0);
  const std::vector<std::string> lines = lines_of(plain.err);
  ASSERT_EQ(lines.size(), 1u) << plain.err;
  EXPECT_EQ(lines[0].rfind("quorin-pack: wrote " + (tree.scratch / "out.exe").string() + " (", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(" in 2 files, ratio "), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("; unpacks into {CACHE_DIR}\\app\\app\\1.0.0-"), std::string::npos) << lines[0];
  // What stderr holds: the summary line, or nothing when --quiet or --json
  // say it is not wanted (the JSON carries it).
  const struct {
    std::vector<std::string> more;
    std::string err;
  } quiet_cases[] = {
      {{"--quiet"}, ""},
      {{"--json"}, ""},
  };
  for (const auto& c : quiet_cases) {
    const ProgramRun run = run_pack(tree.build(c.more));
    EXPECT_EQ(run.code, 0) << c.more[0];
    EXPECT_EQ(run.err, c.err) << c.more[0];
  }
  // Short options as zstd and tar users write them.
  const ProgramRun shorts = run_pack({"build", "--input", (tree.scratch / "app").string(), "--child", "app.exe", "-o",
                                      (tree.scratch / "short.exe").string(), "-q", "-T2", "-19"});
  EXPECT_EQ(shorts.code, 0) << shorts.err;
  EXPECT_EQ(shorts.err, "");
  EXPECT_EQ(run_pack({"-V"}).out, run_pack({"--version"}).out);
  EXPECT_EQ(run_pack({"build", "-h"}).out, run_pack({"build", "--help"}).out);
  // JSON a pipeline can read.
  const ProgramRun json = run_pack(tree.build({"--json", "-q"}));
  write_file(tree.scratch / "build.json", json.out);
  const ProgramRun verify = run_pack({"verify", "--json", (tree.scratch / "out.exe").string()});
  write_file(tree.scratch / "verify.json", verify.out);
  const ProgramRun parsed = run_program(
      {"/usr/bin/python3", "-c",
       "import json, sys\nb = json.load(open(sys.argv[1]))\nv = json.load(open(sys.argv[2]))\n"
       "print(b['files'], b['bytes'] > b['attached_bytes'] > 0, v['ok'], v['problems'])\n",
       (tree.scratch / "build.json").string(), (tree.scratch / "verify.json").string()});
  EXPECT_EQ(parsed.out, "2 True True []\n") << parsed.err << json.out << verify.out;
  // An unknown option gets the nearest known one.
  const ProgramRun typo = run_pack({"build", "--inptu", "x"});
  EXPECT_EQ(typo.code, 2);
  EXPECT_NE(typo.err.find("unknown option '--inptu' (did you mean '--input'?)"), std::string::npos) << typo.err;
}

}  // namespace
