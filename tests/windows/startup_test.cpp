// The start-up sequence and its fatal errors, end to end: launchers built by
// the packer, started as a user would start them, judged by their output
// streams, their full exit code and what they left on disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

constexpr unsigned long kFailure = 2;
constexpr unsigned long kHardStop = 3;

ProcessResult start(const std::wstring& launcher, const std::wstring& arguments = L"",
                    const ProcessOptions& options = {}) {
  return run_process(quoted(launcher_path(launcher)) + (arguments.empty() ? L"" : L" " + arguments), options);
}

std::wstring test_dir(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\" + name; }

TEST(Startup, RunsTheChildWithTheLaunchersVariables) {
  const ProcessResult run = start(L"startup_probe", L"one");
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(report_value(run.out, "argv[1]"), "one");
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_PARENT"), std::to_string(run.pid));
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_DIRECTORY"), narrow(fixture_path(L"launchers")));
  EXPECT_EQ(report_value(run.out, "module"), narrow(test_dir(L"startup_probe") + L"\\app.exe"));
  EXPECT_EQ(read_file(test_dir(L"startup_probe") + L"\\data\\readme.txt"), "hello\n");
}

TEST(Startup, SignedLauncherStillUnpacksAndRuns) {
  remove_tree(test_dir(L"startup_probe"));
  const ProcessResult run = start(L"signed_probe", L"signed");
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "argv[1]"), "signed");
  EXPECT_EQ(read_file(test_dir(L"startup_probe") + L"\\data\\readme.txt"), "hello\n");
}

TEST(Startup, InheritedMemoryVariablesAreRemovedAndParentIsOurOwnPid) {
  ProcessOptions options;
  options.env = {{L"QUORIN_ONEFILE_RANDOM", L"inheritedXYZ"},
                 {L"QUORIN_ONEFILE_TIME_US", L"123456"},
                 {L"QUORIN_ONEFILE_START", L"42"},
                 {L"QUORIN_ONEFILE_PARENT", L"999999"}};
  const ProcessResult run = start(L"startup_probe", L"", options);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  // The spec uses none of the three: the child sees none of them.
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_RANDOM"), "<unset>");
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_TIME_US"), "<unset>");
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_START"), "<unset>");
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_PARENT"), std::to_string(run.pid));
}

TEST(Startup, InheritedRandomIsNotReusedForTheTargetDirectory) {
  ProcessOptions options;
  options.env = {{L"QUORIN_ONEFILE_RANDOM", L"inheritedXYZ"}};
  const ProcessResult run = start(L"startup_random", L"", options);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  const std::string random = report_value(run.out, "QUORIN_ONEFILE_RANDOM");
  EXPECT_EQ(random.size(), 11u);
  EXPECT_NE(random, "inheritedXYZ");
  EXPECT_EQ(report_value(run.out, "module"),
            narrow(test_dir(L"startup_random") + L"\\" + widen(random) + L"\\app.exe"));
  remove_tree(test_dir(L"startup_random"));
}

TEST(Startup, OriginalArgv0IsTheFirstArgumentAsTheCallerWroteIt) {
  // A relative program name is looked up from the caller's own directory.
  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  SetCurrentDirectoryW(fixture_path(L"launchers").c_str());
  const ProcessResult run = run_process(L"\"startup_probe.exe\" x");
  SetCurrentDirectoryW(saved);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "QUORIN_ORIGINAL_ARGV0"), "startup_probe.exe");
  EXPECT_EQ(report_value(run.out, "argv[0]"), narrow(launcher_path(L"startup_probe")));
}

TEST(FatalErrors, SignatureIsComparedExactlyOnAllThreeBytes) {
  for (const wchar_t* name : {L"header_qzY", L"header_QzY", L"header_qZY", L"header_QZy", L"header_QZX",
                              L"header_QZ0", L"header_short"}) {
    const ProcessResult run = start(name);
    EXPECT_EQ(run.exit_code, kFailure) << narrow(name);
    EXPECT_EQ(run.out, "Error, couldn't find attached data header.\n") << narrow(name);
    EXPECT_EQ(run.err, "") << narrow(name);
  }
  EXPECT_FALSE(directory_exists(test_dir(L"header")));
}

TEST(FatalErrors, SpecThatCannotBeExpandedIsReportedThenHardStop) {
  const ProcessResult run = start(L"spec_unknown");
  EXPECT_EQ(run.exit_code, kHardStop);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error, couldn't runtime expand spec '{TEMP}\\quorin-tests\\{NOPE}\\x'.\n");
}

TEST(FatalErrors, DamagedFrameKeepsWhatWasUnpackedBeforeAndTheFileItHitNeverTakesItsName) {
  const std::wstring dir = test_dir(L"decode_damaged");
  remove_tree(dir);
  const ProcessResult run = start(L"decode_damaged");
  EXPECT_EQ(run.exit_code, kFailure);
  EXPECT_EQ(run.out, "Error, couldn't decode attached data.\n");
  EXPECT_EQ(run.err, "");
  // The damage falls inside before.bin: app.exe alone is there, whole.
  EXPECT_TRUE(file_exists(dir + L"\\app.exe"));
  EXPECT_FALSE(file_exists(dir + L"\\before.bin"));
  EXPECT_EQ(snapshot_tree(dir).size(), 1u);
}

TEST(FatalErrors, FileThatCannotBeCreatedNamesItsPath) {
  const std::wstring dir = test_dir(L"open_fail");
  remove_tree(dir);
  CreateDirectoryW((temp_dir() + L"\\quorin-tests").c_str(), nullptr);
  CreateDirectoryW(dir.c_str(), nullptr);
  write_file(dir + L"\\blocked", "a file where a folder should be");
  const ProcessResult run = start(L"open_fail");
  EXPECT_EQ(run.exit_code, kFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error, failed to open '" + narrow(dir) + "\\blocked\\file.txt' for writing.\n");
  // What was there stays, and what was unpacked before stays too.
  EXPECT_EQ(read_file(dir + L"\\blocked"), "a file where a folder should be");
  EXPECT_TRUE(file_exists(dir + L"\\app.exe"));
}

TEST(FatalErrors, ChildThatCannotBeStartedGivesTheSystemErrorLine) {
  for (const wchar_t* name : {L"launch_not_exe", L"launch_empty_archive"}) {
    const ProcessResult run = start(name);
    EXPECT_EQ(run.exit_code, kFailure) << narrow(name);
    EXPECT_EQ(run.out, "") << narrow(name);
    const std::string prefix = "Error, couldn't launch child ([Error ";
    EXPECT_EQ(run.err.compare(0, prefix.size(), prefix), 0) << run.err;
    ASSERT_GE(run.err.size(), 3u);
    EXPECT_EQ(run.err.substr(run.err.size() - 2), ")\n") << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
  }
}

}  // namespace
