// The packer's command line as a user meets it: help, version, usage errors
// (exit 2, one line and a pointer to the help), failures (exit 1, one line),
// and the progress display, which only a terminal sees.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>

#include <chrono>

#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

const char* const kCommands[] = {"build", "archive", "list", "verify", "extract", "generate"};

TEST(PackerHelp, GeneralHelpNamesEveryCommand) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"-h"}, {"help"}}) {
    const ProgramRun run = run_pack(args);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Usage: quorin-pack COMMAND", 0), 0u) << run.out;
    for (const char* command : kCommands) EXPECT_NE(run.out.find(std::string("\n  ") + command), std::string::npos);
  }
}

// Every option is listed, and every one but --help says its default or that
// it is required; no line is wider than 79 columns but one word that cannot
// be broken (the default spec).
TEST(PackerHelp, CommandHelpGivesEveryOptionWithItsDefault) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"build",
       {"--input", "--child", "--attached", "--output", "--spec", "--company", "--product", "--version",
        "--original-filename", "--internal-name", "--file-description", "--icon", "--level", "--threads", "--quiet",
        "--json"}},
      {"archive", {"--input", "--child", "--output", "--level", "--threads", "--quiet"}},
      {"list", {"--json", "--quiet"}},
      {"verify", {"--json", "--quiet"}},
      {"extract", {"--output", "--quiet"}},
      {"generate", {"--output", "--spec", "--company", "--product", "--version"}},
  };
  for (const auto& [command, options] : expected) {
    const ProgramRun run = run_pack({command, "--help"});
    EXPECT_EQ(run.code, 0) << command;
    EXPECT_EQ(run.out, run_pack({"help", command}).out);
    // Each option's text runs from its line to the next option's; a short
    // form stands before the long one ("  -o, --output").
    for (const std::string& option : options) {
      const std::size_t at = run.out.find(", " + option + " ") != std::string::npos
                                 ? run.out.rfind('\n', run.out.find(", " + option + " "))
                                 : run.out.find("\n      " + option + " ");
      ASSERT_NE(at, std::string::npos) << command << " " << option;
      std::size_t next = run.out.find("\n  -", at + 1);
      next = std::min(next, run.out.find("\n      --", at + 1));
      const std::string text = run.out.substr(at, next - at);
      EXPECT_TRUE(text.find("(default:") != std::string::npos || text.find("(required") != std::string::npos)
          << command << ":" << text;
    }
    for (const std::string& line : lines_of(run.out)) {
      const bool one_word = line.find(' ', line.find_first_not_of(' ')) == std::string::npos;
      if (!one_word) {
        EXPECT_LE(line.size(), 79u) << command << ": " << line;
      }
    }
  }
}

TEST(PackerHelp, Version) {
  const ProgramRun run = run_pack({"--version"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out.rfind("quorin-pack ", 0), 0u);
  EXPECT_EQ(lines_of(run.out).size(), 1u);
}

// A usage error: exit 2, nothing on stdout, and on stderr the error on one
// line, then "Try 'quorin-pack [COMMAND] --help'.".
TEST(PackerUsage, ErrorsExitTwoWithOneLineAndAPointerToTheHelp) {
  Scratch scratch("usage");
  const std::string dir = (scratch / "in").string();
  const std::string out = (scratch / "out.bin").string();
  fs::create_directories(dir);
  write_file(scratch / "in" / "app.exe", program_bytes());
  struct Case {
    std::vector<std::string> args;
    std::string first_line;
  };
  const std::vector<Case> cases = {
      {{}, "quorin-pack: missing command"},
      {{"frobnicate"}, "quorin-pack: unknown command 'frobnicate'"},
      {{"biuld"}, "quorin-pack: unknown command 'biuld' (did you mean 'build'?)"},
      {{"--bogus"}, "quorin-pack: unknown option '--bogus'"},
      {{"build", "--bogus"}, "quorin-pack build: unknown option '--bogus'"},
      {{"build", "--output"}, "quorin-pack build: option '--output' needs a value (OUT.exe)"},
      {{"build", "--output", out}, "quorin-pack build: give either --input DIR --child NAME, or --attached FILE"},
      {{"build", "--input", dir, "--output", out}, "quorin-pack build: missing --child (--input and --child go together)"},
      {{"build", "--input", dir, "--child", "app.exe"}, "quorin-pack build: missing --output"},
      {{"build", "--attached", out, "--child", "app.exe", "--output", out},
       "quorin-pack build: give either --input DIR --child NAME, or --attached FILE, not both"},
      {{"build", "--attached", out, "--threads", "2", "--output", out},
       "quorin-pack build: --threads has no use with --attached"},
      {{"build", "--input", dir, "--child", "app.exe", "--output", out, "--version", "1.2.3.4.5"},
       "quorin-pack build: --version '1.2.3.4.5': give one to four numbers of 0 to 65535, as 1.2.3.4"},
      {{"build", "--input", dir, "--child", "app.exe", "--output", out, "--version", "1.2.65536"},
       "quorin-pack build: --version '1.2.65536': give one to four numbers of 0 to 65535, as 1.2.3.4"},
      {{"build", "--input", dir, "--child", "app.exe", "--output", out, "--version", "1..2"},
       "quorin-pack build: --version '1..2': give one to four numbers of 0 to 65535, as 1.2.3.4"},
      {{"build", "--input", dir, "--child", "app.exe", "--output", out, "--subsystem", "gui"},
       "quorin-pack build: --subsystem 'gui': give console or windows"},
      {{"build", "--input", dir, "--child", "app.exe", "--output", out, "--spec="},
       "quorin-pack build: --spec: the target directory spec is empty"},
      {{"build", "--input", dir, "--child", "app.exe", "--output", out, "--company", "\xff"},
       "quorin-pack build: --company: the text is not valid UTF-8"},
      {{"archive", "--input", dir, "--child", "app.exe"}, "quorin-pack archive: missing --output"},
      {{"archive", "--input", dir, "--output", out}, "quorin-pack archive: missing --child"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", out, "--level", "0"},
       "quorin-pack archive: --level '0': give a whole number from 1 to 22"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", out, "--level", "23"},
       "quorin-pack archive: --level '23': give a whole number from 1 to 22"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", out, "--level", "x"},
       "quorin-pack archive: --level 'x': give a whole number from 1 to 22"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", out, "--threads", "0"},
       "quorin-pack archive: --threads '0': give a whole number from 1 to 256"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", out, "--threads", "257"},
       "quorin-pack archive: --threads '257': give a whole number from 1 to 256"},
      {{"archive", "--level", "3", "--level=4"}, "quorin-pack archive: option '--level' given twice"},
      {{"archive", "--quiet=yes"}, "quorin-pack archive: option '--quiet' takes no value"},
      {{"archive", "stray"}, "quorin-pack archive: unexpected argument 'stray'"},
      {{"list"}, "quorin-pack list: missing FILE operand"},
      {{"list", "a", "b"}, "quorin-pack list: unexpected argument 'b'"},
      {{"verify", "-x", "a"}, "quorin-pack verify: unknown option '-x'"},
      {{"extract", "a"}, "quorin-pack extract: missing --output"},
      {{"generate"}, "quorin-pack generate: missing --output"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += " " + arg;
    const ProgramRun run = run_pack(c.args);
    EXPECT_EQ(run.code, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    const std::vector<std::string> lines = lines_of(run.err);
    ASSERT_EQ(lines.size(), 2u) << shown << "\n" << run.err;
    EXPECT_EQ(lines[0], c.first_line) << shown;
    const std::string command = c.args.empty() || c.first_line.rfind("quorin-pack: ", 0) == 0 ? "" : c.args[0] + " ";
    EXPECT_EQ(lines[1], "Try 'quorin-pack " + command + "--help'.") << shown;
  }
  EXPECT_FALSE(fs::exists(out));
}

// Options end at "--": a file whose name starts with a dash is an operand there.
TEST(PackerUsage, DoubleDashEndsTheOptions) {
  Scratch scratch("double_dash");
  write_file(scratch / "in" / "app.exe", program_bytes());
  ASSERT_EQ(run_pack({"archive", "--input", (scratch / "in").string(), "--child", "app.exe", "--output",
                      (scratch / "-odd.bin").string()}).code, 0);
  const fs::path old = fs::current_path();
  fs::current_path(scratch.path);
  const ProgramRun run = run_pack({"list", "--", "-odd.bin"});
  fs::current_path(old);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("app.exe"), std::string::npos);
}

// A failure of the work itself: exit 1, one line "quorin-pack: ..." and no output file.
TEST(PackerFailure, ExitsOneWithOneLine) {
  Scratch scratch("failure");
  const std::string dir = (scratch / "in").string();
  write_file(scratch / "in" / "app.exe", program_bytes());
  write_file(scratch / "not_an_icon.ico", "hello, this is text");
  write_file(scratch / "cut.ico", std::string("\0\0\1\0\2\0", 6));
  fs::create_directories(scratch / "folder.ico");
  // An .ico whose one PNG image is 300 pixels wide while its directory says 256.
  std::string png_ico("\0\0\1\0\1\0", 6);
  png_ico += std::string("\0\0\0\0\1\0\x20\0", 8);
  put_le(png_ico, 33, 4);
  put_le(png_ico, 22, 4);
  png_ico += std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x01\x2c\0\0\x01\x00\x08\x06\0\0\0\0\0\0\0", 33);
  write_file(scratch / "png_size.ico", png_ico);
  const std::string out = (scratch / "out.exe").string();
  const std::vector<std::string> build = {"build", "--input", dir, "--child", "app.exe", "--output", out};
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // part of the line
  };
  const std::vector<Case> cases = {
      {{"archive", "--input", (scratch / "missing").string(), "--child", "app.exe", "--output", out}, "not a folder"},
      {{"archive", "--input", dir, "--child", "nope.exe", "--output", out}, "child 'nope.exe'"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", (scratch / "no" / "out.bin").string()},
       "there is no folder"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", dir}, "a folder"},
      {{"archive", "--input", dir, "--child", "app.exe", "--output", dir + "/app.exe"}, "is the child 'app.exe'"},
      // A folder not even root may write in: the output is named, not its partial file.
      {{"archive", "--input", dir, "--child", "app.exe", "--output", "/sys/out.bin"}, "'/sys/out.bin': "},
      {{"generate", "--output", (scratch / "no" / "constants.cpp").string()}, "there is no folder"},
      {{"list", (scratch / "missing.exe").string()}, "No such file"},
      {{"verify", (scratch / "not_an_icon.ico").string()}, "neither a launcher exe nor attached data"},
      {{"extract", (scratch / "in").string(), "--output", (scratch / "x").string()}, "not a file"},
      {{"build", "--icon", (scratch / "missing.ico").string()}, "no such file"},
      {{"build", "--icon", (scratch / "folder.ico").string()}, "not a file"},
      {{"build", "--icon", (scratch / "not_an_icon.ico").string()}, "not an icon file"},
      {{"build", "--icon", (scratch / "cut.ico").string()}, "cut short"},
      {{"build", "--icon", (scratch / "png_size.ico").string()}, "its PNG is 300x256 but the directory says 256x256"},
  };
  for (Case c : cases) {
    if (c.args[0] == "build") c.args.insert(c.args.begin() + 1, build.begin() + 1, build.end());
    std::string shown;
    for (const std::string& arg : c.args) shown += " " + arg;
    const ProgramRun run = run_pack(c.args);
    EXPECT_EQ(run.code, 1) << shown;
    const std::vector<std::string> lines = lines_of(run.err);
    ASSERT_EQ(lines.size(), 1u) << shown << "\n" << run.err;
    EXPECT_EQ(lines[0].rfind("quorin-pack: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.expected), std::string::npos) << shown << "\n" << lines[0];
    EXPECT_FALSE(fs::exists(out)) << shown;
  }
  // Nothing but the inputs is left beside the output.
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path)) {
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
  }
}

// An .ico of a 32-pixel bitmap and a 256-pixel PNG whose sizes agree with its
// directory is taken.
TEST(PackerIcon, AcceptsAUsableIcon) {
  Scratch scratch("icon");
  write_file(scratch / "in" / "app.exe", program_bytes());
  std::string bitmap;
  for (std::uint32_t value : {40u, 32u, 64u}) put_le(bitmap, value, 4);
  put_le(bitmap, 1, 2);
  put_le(bitmap, 32, 2);
  bitmap += std::string(24, '\0');
  bitmap += std::string(32 * 32 * 4, '\x7f') + std::string(32 * 4, '\0');
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x01\x00\0\0\x01\x00\x08\x06\0\0\0\0\0\0\0", 33);
  std::string ico("\0\0\1\0\2\0", 6);
  const std::size_t first = 6 + 2 * 16;
  ico += std::string("\x20\x20\0\0\1\0\x20\0", 8);
  put_le(ico, bitmap.size(), 4);
  put_le(ico, first, 4);
  ico += std::string("\0\0\0\0\1\0\x20\0", 8);
  put_le(ico, png.size(), 4);
  put_le(ico, first + bitmap.size(), 4);
  write_file(scratch / "good.ico", ico + bitmap + png);
  const ProgramRun run = run_pack({"build", "--input", (scratch / "in").string(), "--child", "app.exe", "--icon",
                                   (scratch / "good.ico").string(), "--output", (scratch / "out.exe").string()});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::exists(scratch / "out.exe"));
}

// Runs the packer on a terminal (a pseudo-terminal) and returns what it showed.
std::string run_on_terminal(const std::vector<std::string>& args, int& code) {
  std::vector<std::string> all = {QUORIN_PACK};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has gone
    shown.append(buffer, static_cast<std::size_t>(got));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return shown;
}

// Progress shows on a terminal for work that takes a while (a few seconds of
// the strongest compression here), never when stderr is not a terminal, and
// not with --quiet.
TEST(PackerProgress, ShownOnATerminalOnly) {
  Scratch scratch("progress");
  write_file(scratch / "in" / "app.exe", program_bytes());
  write_file(scratch / "in" / "words.txt", text(4 << 20, 11));
  const std::vector<std::string> args = {"archive", "--input", (scratch / "in").string(), "--child", "app.exe",
                                         "--output", (scratch / "out.bin").string(), "--level", "22"};
  int code = -1;
  const std::string shown = run_on_terminal(args, code);
  EXPECT_EQ(code, 0);
  EXPECT_NE(shown.find("packing: "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" MiB/s, "), std::string::npos) << shown;
  EXPECT_NE(shown.find("s left"), std::string::npos) << shown;
  EXPECT_NE(shown.find("(100%)"), std::string::npos) << shown;

  // Whether progress shows is settled before any work starts, so the runs
  // that must show none take the fastest level.
  std::vector<std::string> fast = args;
  fast.back() = "1";
  std::vector<std::string> quiet = fast;
  quiet.push_back("--quiet");
  EXPECT_EQ(run_on_terminal(quiet, code), "");
  EXPECT_EQ(code, 0);

  const ProgramRun piped = run_pack(fast);
  EXPECT_EQ(piped.code, 0);
  EXPECT_EQ(piped.out, "");
  EXPECT_EQ(piped.err, "");
}

}  // namespace
