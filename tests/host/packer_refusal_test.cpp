// Bad input to the packer: a clear one-line message on stderr, a non-zero exit,
// and no output file (nor a partial one) left behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

struct Refusal {
  const char* what;
  std::vector<std::string> args;  // "@" stands for the scratch folder
  const char* message_part;
};

class PackerRefusal : public ::testing::Test {
 protected:
  Scratch scratch{"refusal"};
  fs::path app = scratch.path / "app";
  void SetUp() override {
    write_file(app / "app.exe", program_bytes("child"));
    write_file(app / "data.txt", "data");
    fs::create_directories(app / "folder");
  }
  // Runs the packer and checks that it refused cleanly.
  void expect_refused(const Refusal& refusal) {
    std::vector<std::string> args;
    for (std::string arg : refusal.args) {
      if (const auto at = arg.find('@'); at != std::string::npos) arg.replace(at, 1, scratch.path.string());
      args.push_back(arg);
    }
    const ProgramRun run = run_pack(args);
    EXPECT_NE(run.code, 0) << refusal.what;
    EXPECT_EQ(run.err.rfind("quorin-pack", 0), 0u) << refusal.what << ": " << run.err;
    EXPECT_NE(run.err.find(refusal.message_part), std::string::npos) << refusal.what << ": " << run.err;
    EXPECT_EQ(run.out, "") << refusal.what;
    for (const auto& entry : fs::directory_iterator(scratch.path)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find("out"), std::string::npos) << refusal.what << " left " << name;
    }
  }
};

TEST_F(PackerRefusal, MissingOrWrongInput) {
  const std::vector<Refusal> cases = {
      {"no such folder", {"build", "--input", "@/nope", "--child", "app.exe", "--output", "@/out.exe"}, "not a folder"},
      {"no such child", {"build", "--input", "@/app", "--child", "nope.exe", "--output", "@/out.exe"}, "nope.exe"},
      {"child without .exe", {"build", "--input", "@/app", "--child", "app", "--output", "@/out.exe"},
       "child 'app': no such file in the input folder (did you mean 'app.exe'?)"},
      {"child is a folder", {"build", "--input", "@/app", "--child", "folder", "--output", "@/out.exe"},
       "not a regular file"},
      {"child outside the folder", {"archive", "--input", "@/app", "--child", "../app/app.exe", "--output", "@/out.bin"},
       "child"},
      {"no such attached file", {"build", "--attached", "@/nope.bin", "--output", "@/out.exe"}, "nope.bin"},
      {"both sources", {"build", "--attached", "@/app/data.txt", "--input", "@/app", "--child", "app.exe", "--output",
                        "@/out.exe"}, "either"},
  };
  for (const Refusal& refusal : cases) expect_refused(refusal);
}

TEST_F(PackerRefusal, NamesTheLauncherCouldNotUse) {
  const std::vector<std::pair<const char*, fs::path>> names = {
      {"a colon", app / "a:b.txt"},
      {"a backslash inside a name", app / "a\\b.txt"},
      {"a character Windows forbids", app / "what?.txt"},
  };
  for (const auto& [what, path] : names) {
    write_file(path, "x");
    expect_refused({what, {"archive", "--input", "@/app", "--child", "app.exe", "--output", "@/out.bin"}, "'"});
    fs::remove(path);
  }
  // Over 1023 UTF-16 units in all, spread over folders (a Linux name component has at most 255 bytes).
  fs::path deep = app;
  for (int i = 0; i < 6; ++i) deep /= std::string(200, static_cast<char>('a' + i));
  write_file(deep / "f.txt", "x");
  expect_refused({"a name over 1023 units", {"archive", "--input", "@/app", "--child", "app.exe", "--output",
                                             "@/out.bin"}, "1023"});
  fs::remove_all(app / std::string(200, 'a'));
  // Two names Windows would take for one file.
  write_file(app / "Data.txt", "other");
  expect_refused({"names differing in case only", {"archive", "--input", "@/app", "--child", "app.exe", "--output",
                                                   "@/out.bin"}, "letter case"});
}

TEST_F(PackerRefusal, BadOptionValues) {
  write_file(scratch.path / "bad.ico", "not an icon at all");
  const std::vector<Refusal> cases = {
      {"version of five numbers", {"build", "--input", "@/app", "--child", "app.exe", "--version", "1.2.3.4.5", "--output", "@/out.exe"}, "--version"},
      {"subsystem of another name", {"build", "--input", "@/app", "--child", "app.exe", "--subsystem", "gui", "--output", "@/out.exe"}, "--subsystem"},
      {"version with letters", {"build", "--input", "@/app", "--child", "app.exe", "--version", "1.b.3", "--output", "@/out.exe"}, "--version"},
      {"version part too large", {"build", "--input", "@/app", "--child", "app.exe", "--version", "1.2.65536", "--output", "@/out.exe"}, "--version"},
      {"icon that is not one", {"build", "--input", "@/app", "--child", "app.exe", "--icon", "@/bad.ico", "--output", "@/out.exe"}, "icon"},
      {"missing icon", {"build", "--input", "@/app", "--child", "app.exe", "--icon", "@/nope.ico", "--output", "@/out.exe"}, "icon"},
      {"empty spec", {"build", "--input", "@/app", "--child", "app.exe", "--spec", "", "--output", "@/out.exe"}, "--spec"},
      {"company without room", {"build", "--input", "@/app", "--child", "app.exe", "--company", std::string(1024, 'c'), "--output", "@/out.exe"}, "--company"},
      {"level out of range", {"archive", "--input", "@/app", "--child", "app.exe", "--level", "30", "--output", "@/out.bin"}, "--level"},
  };
  for (const Refusal& refusal : cases) expect_refused(refusal);
}

TEST_F(PackerRefusal, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"build", "--frobnicate"}, {"archive", "--input"}, {"nonsense"}}) {
    const ProgramRun run = run_pack(args);
    EXPECT_EQ(run.code, 2) << args[0] << " " << args[1 % args.size()];
    EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
  }
}

TEST_F(PackerRefusal, FailedBuildKeepsAnEarlierOutput) {
  write_file(scratch.path / "keep.exe", "an earlier launcher");
  const ProgramRun run = run_pack(
      {"build", "--input", app.string(), "--child", "nope.exe", "--output", (scratch.path / "keep.exe").string()});
  EXPECT_NE(run.code, 0);
  EXPECT_EQ(read_file(scratch.path / "keep.exe"), "an earlier launcher");
}

}  // namespace
