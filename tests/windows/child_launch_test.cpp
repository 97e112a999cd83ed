// The child end to end: a launcher with the probe as its child program,
// started as a user would start it. Arguments, argument 0, the current
// directory, the output streams and the exit code as the child sees them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/windows/support/child_support.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

std::wstring test_dir(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\" + name; }

ProcessResult start(const ArgumentList& args, const ProcessOptions& options = {}) {
  ArgumentList line = {launcher_path(L"child_probe")};
  line.insert(line.end(), args.begin(), args.end());
  return run_process(joined(line), options);
}

TEST(ChildLaunch, ArgumentsArriveIntact) {
  std::vector<ArgumentList> lists = {
      {},
      {L"report.txt", L"C:\\dir\\", L"two words", L"say \"hi\"", L"C:\\my dir\\", L"a\\\"b"},
      {L"", L"\t", L"\n", L"\v", L"\"\"", L"\\\\", L"x\\\\ \\\\"},
      {L"\u00e9t\u00e9", L"\u4e2d \u6587", L"\U0001F600", L"a\u3000b"},
  };
  for (const ArgumentList& args : generated_argument_lists(8, 51)) lists.push_back(args);
  for (const ArgumentList& args : lists) {
    const ProcessResult run = start(args);
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    ArgumentList expected = {launcher_path(L"child_probe")};
    expected.insert(expected.end(), args.begin(), args.end());
    EXPECT_EQ(reported_arguments(run.out), expected) << narrow(joined(expected));
  }
}

TEST(ChildLaunch, NoArgumentsGiveTheLauncherPathAloneWithNoBlankAfterIt) {
  const ProcessResult run = start({});
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "cmdline"), narrow(launcher_path(L"child_probe")));
}

TEST(ChildLaunch, ChildStartsInTheLaunchersCurrentDirectory) {
  const std::wstring cwd = test_dir(L"child cwd");
  CreateDirectoryW(test_dir(L"").c_str(), nullptr);
  CreateDirectoryW(cwd.c_str(), nullptr);
  ProcessOptions options;
  options.current_directory = cwd;
  const ProcessResult run = start({L"x"}, options);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "cwd"), narrow(cwd));
  // And not in the target directory it was started from.
  EXPECT_EQ(report_value(run.out, "module"), narrow(test_dir(L"child_probe") + L"\\app.exe"));
}

// A copy of the launcher in a folder with a blank, started by a relative,
// quoted name: the child's argument 0 is the full path, quoted in its command
// line, while QUORIN_ORIGINAL_ARGV0 keeps the name as written, without quotes.
TEST(ChildLaunch, LauncherPathWithBlankIsQuotedAndOriginalArgv0StaysRelative) {
  const std::wstring folder = test_dir(L"child launcher copy");
  CreateDirectoryW(test_dir(L"").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring copy = folder + L"\\child probe.exe";
  ASSERT_TRUE(CopyFileW(launcher_path(L"child_probe").c_str(), copy.c_str(), FALSE));

  wchar_t saved[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved);
  SetCurrentDirectoryW(folder.c_str());
  const ProcessResult run = run_process(L"\"child probe.exe\" \"two words\" 3");
  SetCurrentDirectoryW(saved);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "QUORIN_ORIGINAL_ARGV0"), "child probe.exe");
  EXPECT_EQ(report_value(run.out, "argv[0]"), narrow(copy));
  EXPECT_EQ(report_value(run.out, "cmdline"), narrow(L"\"" + copy + L"\" \"two words\" 3"));
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_DIRECTORY"), narrow(folder));
  EXPECT_EQ(report_value(run.out, "cwd"), narrow(folder));
  remove_tree(folder);
}

TEST(ChildLaunch, ChildOutputReachesTheLaunchersRedirectedStreams) {
  ProcessOptions options;
  options.env = {{L"QUORIN_PROBE_STDERR", L"to the error stream \u00e9"}};
  const ProcessResult run = start({L"out"}, options);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "argv[1]"), "out");
  EXPECT_EQ(run.err, "to the error stream \xc3\xa9\n");
}

TEST(ChildLaunch, ExitCodeComesBackUnchanged) {
  for (const unsigned long code : {0ul, 1ul, 255ul, 0xC0000005ul}) {
    ProcessOptions options;
    options.env = {{L"QUORIN_PROBE_EXIT", std::to_wstring(code)}};
    const ProcessResult run = start({}, options);
    EXPECT_EQ(run.exit_code, code) << run.err;
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
