// The target directory spec in built launchers, end to end: where each one
// unpacks, and the values its child inherits. Talks to the system (starts the
// fixture launchers, reads and removes what they unpacked).
#include <gtest/gtest.h>

#include <string>

#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

std::wstring test_dir(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\" + name; }

TEST(TemplateLauncher, PidDirectoryIsTheLaunchersOwnProcessId) {
  ProcessOptions options;
  // Replaced by the launcher before its expansion reads it; left in place it
  // would be a hard stop.
  options.env = {{L"QUORIN_ONEFILE_PARENT", L"47a1"}};
  const ProcessResult run = run_process(quoted(launcher_path(L"template_pid")), options);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  const std::string pid = std::to_string(run.pid);
  EXPECT_EQ(report_value(run.out, "QUORIN_ONEFILE_PARENT"), pid);
  const std::wstring directory = test_dir(L"template_pid\\") + widen(pid);
  EXPECT_EQ(report_value(run.out, "module"), narrow(directory + L"\\app.exe"));
  // A folder named by the process id is made for one run: it goes with it.
  EXPECT_FALSE(directory_exists(directory));
  remove_tree(directory);
}

TEST(TemplateLauncher, RememberedValuesNameTheDirectoryAndReachTheChild) {
  ProcessOptions options;
  options.env = {{L"QUORIN_ONEFILE_START", L"1"}, {L"QUORIN_ONEFILE_TIME_US", L"2"}, {L"QUORIN_ONEFILE_RANDOM", L"3"}};
  const ProcessResult run = run_process(quoted(launcher_path(L"template_values")), options);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  const std::string start = report_value(run.out, "QUORIN_ONEFILE_START");
  const std::string time_us = report_value(run.out, "QUORIN_ONEFILE_TIME_US");
  const std::string random = report_value(run.out, "QUORIN_ONEFILE_RANDOM");
  EXPECT_EQ(start.size(), 18u) << start;
  EXPECT_EQ(time_us.size(), 6u) << time_us;
  EXPECT_EQ(random.size(), 11u) << random;
  const std::wstring directory = test_dir(L"template_values\\") + widen(start + "_" + time_us + "_" + random);
  EXPECT_EQ(report_value(run.out, "module"), narrow(directory + L"\\app.exe"));
  remove_tree(directory);
}

// The user moves the cache with an absolute folder in QUORIN_CACHE_DIR; a
// relative one leaves it in the local application-data folder.
TEST(TemplateLauncher, CacheDirVariableMovesWhereTheLauncherUnpacks) {
  const struct {
    std::wstring value;
    std::wstring cache;
  } cases[] = {
      {test_dir(L"moved-cache\\"), test_dir(L"moved-cache")},
      {L"moved-cache", local_app_data()},
  };
  for (const auto& c : cases) {
    ProcessOptions options;
    options.env = {{L"QUORIN_CACHE_DIR", c.value}};
    const ProcessResult run = run_process(quoted(launcher_path(L"template_cache_dir")), options);
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const std::wstring directory = c.cache + L"\\quorin-tests\\template_cache_dir";
    EXPECT_EQ(report_value(run.out, "module"), narrow(directory + L"\\app.exe")) << narrow(c.value);
    remove_tree(directory);
  }
  remove_tree(test_dir(L"moved-cache"));
}

TEST(TemplateLauncher, ProgramBaseUnpacksBesideTheLauncher) {
  const ProcessResult run = run_process(quoted(launcher_path(L"template_program_base")));
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "module"), narrow(fixture_path(L"launchers\\template_program_base_files\\app.exe")));
}

}  // namespace
