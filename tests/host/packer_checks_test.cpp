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
      {"{cache_dir}\\{Product}", 0, "quorin-pack: wrote", ""},
      {"\\\\server\\share\\{PRODUCT}", 0, "quorin-pack: wrote", ""},
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
  const std::string spec = json_value(a.out, "spec");
  EXPECT_EQ(spec.rfind("{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}\\", 0), 0u) << spec;
  EXPECT_NE(spec, json_value(b.out, "spec"));
  EXPECT_EQ(spec, json_value(again.out, "spec"));
  // The same inputs and name, in another folder, give the same bytes.
  fs::create_directories(first.scratch / "elsewhere");
  ASSERT_EQ(run_pack(first.build({"-q"}, "elsewhere/out.exe")).code, 0);
  EXPECT_TRUE(read_file(first.scratch / "out.exe") == read_file(first.scratch / "elsewhere" / "out.exe"));
  // SOURCE_DATE_EPOCH sets the stamp.
  const ProgramRun dated = run_pack(first.build({"--json", "-q"}), {"SOURCE_DATE_EPOCH=1790000000"});
  EXPECT_EQ(json_value(dated.out, "spec"), "{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}\\20260921_141320");
  EXPECT_EQ(run_pack(first.build({}), {"SOURCE_DATE_EPOCH=soon"}).code, 2);
}

TEST(PackerDefaults, VersionComesFromTheChildAndValuesMustBeFolderNames) {
  // A launcher with version information, as the child of another.
  Tree inner("defaults_inner");
  ASSERT_EQ(run_pack(inner.build({"--version", "2.4.6", "-q"}, "Tool.exe")).code, 0);
  Scratch outer("defaults_outer");
  fs::create_directories(outer / "app");
  fs::copy_file(inner.scratch / "Tool.exe", outer / "app" / "Tool.exe");
  const ProgramRun run = run_pack({"build", "--input", (outer / "app").string(), "--child", "Tool.exe", "--output",
                                   (outer / "out.exe").string(), "--json", "-q"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(json_value(run.out, "version"), "2.4.6");
  EXPECT_EQ(json_value(run.out, "product"), "Tool");
  // Values the default spec makes folders of.
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--company", "A/B"},
                                              std::vector<std::string>{"--product", "CON"},
                                              std::vector<std::string>{"--company", "dots..."}}) {
    const ProgramRun refused = run_pack(inner.build(bad));
    EXPECT_EQ(refused.code, 2) << bad[1];
    EXPECT_NE(refused.err.find("cannot be a folder name on Windows"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(run_pack(inner.build({"--company", "A/B", "--spec", "{TEMP}\\x", "-q"})).code, 0);
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
  EXPECT_NE(lines[0].find("; unpacks into {CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}\\"), std::string::npos);
  EXPECT_EQ(run_pack(tree.build({"--quiet"})).err, "");
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
