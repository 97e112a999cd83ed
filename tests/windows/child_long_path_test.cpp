// Child program paths of 259 units and of 260 or more, end to end: launchers
// whose target spec makes the child's path exactly that long. 259 starts as
// it is, longer ones by their short form; where no short form is short
// enough, the launch failure with the code for a name too long. And a target
// with Cyrillic, CJK and an emoji. Talks to the system (processes, files).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/common/long_path.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

// True when both paths name one file (one volume, one file index). Wine's
// GetLongPathNameW overflows its stack on the longest of these paths, so the
// reported short form is not widened back.
bool same_file(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  const std::wstring* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE file = CreateFileW(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL got = GetFileInformationByHandle(file, &info[i]);
    CloseHandle(file);
    if (!got) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

TEST(LongChildPath, StartedByItsShortFormOrRefusedAsTooLong) {
  const struct {
    const wchar_t* launcher;
    std::size_t units;
    bool short_components;
    bool starts;
  } cases[] = {
      {L"long_259", 259, false, true},
      {L"long_260", 260, false, true},
      {L"long_1000", 1000, false, true},
      {L"long_4000", 4000, false, true},
      {L"long_300_short_names", 300, true, false},
  };
  remove_tree(L"C:\\quorin-long");
  for (const auto& c : cases) {
    const std::wstring child = widen(quorin::test_archive::long_path_spec(c.units, c.short_components)) + L"\\app.exe";
    ASSERT_EQ(child.size(), c.units);
    const ProcessResult run = run_process(launcher_path(c.launcher));
    // The tree is unpacked at every length.
    EXPECT_TRUE(file_exists(child)) << narrow(c.launcher);
    const std::wstring module = widen(report_value(run.out, "module"));
    const bool child_ran = report_value(run.out, "module") != "<absent>";
    std::printf("child path of %zu units%s: exit %lu, %s\n", c.units, c.short_components ? " (short names only)" : "",
                run.exit_code,
                child_ran ? ("the child started as " + std::to_string(module.size()) + " units").c_str()
                          : (run.err.empty() ? std::string("no child started, no message\n") : run.err).c_str());
    if (c.starts) {
      EXPECT_EQ(run.exit_code, 0u) << narrow(c.launcher) << run.err;
      EXPECT_LT(module.size(), 260u) << narrow(c.launcher);
      EXPECT_TRUE(same_file(module, child)) << narrow(c.launcher) << ": " << narrow(module);
    } else {
      EXPECT_EQ(run.exit_code, 2u) << narrow(c.launcher);
      EXPECT_EQ(run.err.rfind("Error, couldn't launch child ([Error 206] ", 0), 0u) << run.err;
    }
  }
  remove_tree(L"C:\\quorin-long");
}

TEST(ChildPath, TargetWithCyrillicCjkAndAnEmojiStarts) {
  const std::wstring target =
      temp_dir() + L"\\quorin-tests\\\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430 \u6f22\u5b57 \U0001F600"
                   L"\\\u041f\u0443\u0442\u044c";
  remove_tree(target);
  const ProcessResult run = run_process(launcher_path(L"path_unicode"));
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "module"), narrow(target + L"\\app.exe"));
  remove_tree(target);
}

}  // namespace
