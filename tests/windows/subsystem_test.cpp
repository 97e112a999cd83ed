// The launcher takes its child's subsystem. A console child's launcher is a
// console program: cmd and a batch file wait for it and see the child's
// output and exit code as their own. A GUI child's launcher is a GUI
// program, which never gets a console, whoever starts it.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <string>

#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

WORD subsystem_of(const std::wstring& exe) {
  const std::string bytes = read_file(exe);
  if (bytes.size() < 0x200) return 0;
  const auto pe = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3C);
  return reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + pe)->OptionalHeader.Subsystem;
}

TEST(Subsystem, TheChildsWrittenIntoTheHeaderWithItsChecksum) {
  const struct {
    const wchar_t* launcher;
    WORD subsystem;
  } cases[] = {{L"subsystem_console", IMAGE_SUBSYSTEM_WINDOWS_CUI},
               {L"subsystem_gui", IMAGE_SUBSYSTEM_WINDOWS_GUI},
               {L"subsystem_gui_as_console", IMAGE_SUBSYSTEM_WINDOWS_CUI}};
  for (const auto& c : cases) {
    const std::wstring exe = launcher_path(c.launcher);
    EXPECT_EQ(subsystem_of(exe), c.subsystem) << narrow(c.launcher);
    DWORD in_header = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(exe.c_str(), &in_header, &computed), CHECKSUM_SUCCESS);
    EXPECT_EQ(in_header, computed) << narrow(c.launcher);
  }
}

TEST(Subsystem, CmdAndABatchFileSeeTheConsoleChildsOutputAndExitCode) {
  ProcessOptions options;
  options.env = {{L"QUORIN_PROBE_EXIT", L"7"}};
  const std::wstring launcher = quoted(launcher_path(L"subsystem_console"));
  const ProcessResult direct = run_process(L"cmd /d /c " + launcher + L" from-cmd", options);
  EXPECT_EQ(direct.exit_code, 7u) << direct.err;
  EXPECT_EQ(report_value(direct.out, "argv[1]"), "from-cmd") << direct.out;

  const std::wstring folder = temp_dir() + L"\\quorin-tests\\subsystem batch";
  CreateDirectoryW((temp_dir() + L"\\quorin-tests").c_str(), nullptr);
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring batch = folder + L"\\run.bat";
  write_file(batch, "@echo off\r\n" + narrow(launcher) + " from-batch\r\necho errorlevel=%ERRORLEVEL%\r\n"
                    "exit /b %ERRORLEVEL%\r\n");
  const ProcessResult batched = run_process(L"cmd /d /c " + quoted(batch), options);
  EXPECT_EQ(batched.exit_code, 7u) << batched.err;
  EXPECT_EQ(report_value(batched.out, "argv[1]"), "from-batch") << batched.out;
  EXPECT_EQ(report_value(batched.out, "errorlevel"), "7") << batched.out;
  remove_tree(folder);
}

// The child attaches to its parent's console, which only a console allows.
// Started as any program starts another (no creation flags), the GUI
// child's launcher has none: a console program would share its starter's
// console, or get a new one when the starter has none (Wine 8.0 gives it
// none then). The same launcher made a console program and given a new console
// has one, so the check can tell.
TEST(Subsystem, TheGuiChildsLauncherHasNoConsole) {
  ProcessOptions options;
  options.env = {{L"QUORIN_PROBE_PARENT_CONSOLE", L"1"}};
  const ProcessResult gui = run_process(quoted(launcher_path(L"subsystem_gui")), options);
  ASSERT_EQ(gui.exit_code, 0u) << gui.err;
  EXPECT_EQ(report_value(gui.out, "parent_console"), "no") << gui.out;
  options.creation_flags = CREATE_NEW_CONSOLE;
  const ProcessResult console = run_process(quoted(launcher_path(L"subsystem_gui_as_console")), options);
  ASSERT_EQ(console.exit_code, 0u) << console.err;
  EXPECT_EQ(report_value(console.out, "parent_console"), "yes") << console.out;
}

}  // namespace
