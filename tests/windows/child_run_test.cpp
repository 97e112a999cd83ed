// Running the child in-process: run_child with the probe as the child program
// (exit codes, a program that cannot be started), and the console control
// handler called from other threads while the child runs, before and after.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "child/run.h"
#include "launcher/state.h"
#include "launcher/wide_text.h"
#include "tests/windows/support/child_support.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin;
using namespace quorin::testing;
using Clock = std::chrono::steady_clock;

// Every close of a process handle, by the process's id, for the whole run.
CountProcessHandleCloses g_closes;

// The probe's process id, from its report.
unsigned long probe_pid(const std::wstring& report) { return std::stoul(report_value(read_file(report), "pid")); }

long long milliseconds_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The probe as the child program; it writes its report to a file of the test
// and then ends as QUORIN_PROBE_SLEEP_MS and QUORIN_PROBE_EXIT say. The
// variables are set in this process, which the child inherits.
std::wstring use_probe(const std::wstring& test, const std::wstring& sleep_ms, const std::wstring& exit_code) {
  launcher::copy_text(launcher::g_child_program_path, launcher::kPathCap,
                      fixture_path(L"trees\\child\\app.exe").c_str());
  CreateDirectoryW((temp_dir() + L"\\quorin-tests").c_str(), nullptr);
  const std::wstring report = temp_dir() + L"\\quorin-tests\\child_run_" + test + L".txt";
  DeleteFileW(report.c_str());
  SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", report.c_str());
  SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", sleep_ms.empty() ? nullptr : sleep_ms.c_str());
  SetEnvironmentVariableW(L"QUORIN_PROBE_EXIT", exit_code.empty() ? nullptr : exit_code.c_str());
  return report;
}

// The running probe, opened through the process id in its report, once the
// report is there. The launcher holds the child's handle before the child has
// run far enough to write it.
HANDLE wait_for_probe(const std::wstring& report) {
  for (int tries = 0; tries < 1000; ++tries) {
    const std::string text = read_file(report);
    if (text != "<missing>" && text.find("pid=") != std::string::npos &&
        text.find('\n', text.find("pid=")) != std::string::npos) {
      const DWORD pid = std::stoul(report_value(text, "pid"));
      return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    }
    Sleep(10);
  }
  return nullptr;
}

DWORD exit_code_of(HANDLE process) {
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return code;
}

// The handler on a thread of its own, as the system calls it.
struct HandlerRun {
  std::thread thread;
  int result = -1;
  long long took_ms = -1;
};

void start_handler(HandlerRun& run, unsigned long event_type) {
  run.thread = std::thread([&run, event_type] {
    const Clock::time_point start = Clock::now();
    run.result = child::console_control_handler(event_type);
    run.took_ms = milliseconds_since(start);
  });
}

TEST(ChildRun, ReturnsTheFull32BitExitCodeAndClosesTheHandleOnce) {
  for (const unsigned long code : {0ul, 1ul, 255ul, 0xC0000005ul, 0xFFFFFFFFul}) {
    const std::wstring report = use_probe(L"exit", L"", std::to_wstring(code));
    EXPECT_EQ(child::run_child(), code);
    EXPECT_EQ(g_closes.closes_of(probe_pid(report)), 1);
  }
}

TEST(ChildRun, MissingProgramIsReportedWithTheSystemError) {
  EXPECT_EXIT(
      {
        launcher::copy_text(launcher::g_child_program_path, launcher::kPathCap,
                            fixture_path(L"trees\\child\\missing.exe").c_str());
        child::run_child();
      },
      ::testing::ExitedWithCode(2), "^Error, couldn't launch child \\(\\[Error 2\\] .+\\)\r?\n$");
}

TEST(ConsoleControl, EventWithoutAChildTouchesNothing) {
  for (unsigned long event_type = 0; event_type <= 7; ++event_type) {
    EXPECT_EQ(child::console_control_handler(event_type), FALSE) << event_type;
  }
  child::stop_child();

  // After a child has been waited for, the handle has been given up.
  const std::wstring report = use_probe(L"after", L"", L"3");
  EXPECT_EQ(child::run_child(), 3u);
  const unsigned long pid = probe_pid(report);
  EXPECT_EQ(g_closes.closes_of(pid), 1);
  EXPECT_EQ(child::console_control_handler(CTRL_C_EVENT), FALSE);
  EXPECT_EQ(child::console_control_handler(CTRL_CLOSE_EVENT), FALSE);
  child::stop_child();
  EXPECT_EQ(g_closes.closes_of(pid), 1);
}

TEST(ConsoleControl, ChildThatEndsWithinTheGraceTimeIsNotTerminated) {
  const std::wstring report = use_probe(L"ends", L"1500", L"7");
  unsigned long exit_code = 0;
  std::thread main_thread([&] { exit_code = child::run_child(); });
  HANDLE probe = wait_for_probe(report);
  ASSERT_NE(probe, nullptr);
  Sleep(100);

  // Event types 3 and 4 (and any unknown one) are ignored: the child runs on.
  for (const unsigned long ignored : {3ul, 4ul, 7ul}) {
    EXPECT_EQ(child::console_control_handler(ignored), FALSE) << ignored;
  }
  EXPECT_EQ(exit_code_of(probe), STILL_ACTIVE);

  // Ctrl+Break, then logoff, while the child runs: both wait for it to end.
  HandlerRun first, second;
  start_handler(first, CTRL_BREAK_EVENT);
  Sleep(50);
  start_handler(second, CTRL_LOGOFF_EVENT);
  first.thread.join();
  second.thread.join();
  main_thread.join();

  EXPECT_EQ(first.result, FALSE);
  EXPECT_EQ(second.result, FALSE);
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(exit_code_of(probe), 7u);
  EXPECT_EQ(g_closes.closes_of(probe_pid(report)), 1);
  std::printf("handler runs while the child ended by itself: %lld ms, %lld ms\n", first.took_ms, second.took_ms);
  CloseHandle(probe);
}

TEST(ConsoleControl, ChildThatDoesNotEndIsTerminatedWithExitCodeZeroAfterTheGraceTime) {
  const std::wstring report = use_probe(L"stays", L"60000", L"7");
  unsigned long exit_code = 99;
  std::thread main_thread([&] { exit_code = child::run_child(); });
  HANDLE probe = wait_for_probe(report);
  ASSERT_NE(probe, nullptr);
  Sleep(100);

  // Ctrl+C, then closing of the console, in a row.
  const Clock::time_point start = Clock::now();
  HandlerRun first, second;
  start_handler(first, CTRL_C_EVENT);
  Sleep(200);
  start_handler(second, CTRL_CLOSE_EVENT);
  first.thread.join();
  const long long first_done_ms = milliseconds_since(start);
  second.thread.join();
  main_thread.join();

  EXPECT_EQ(first.result, FALSE);
  EXPECT_EQ(second.result, FALSE);
  // The first handler waited out the grace time before it terminated the child.
  EXPECT_GE(first.took_ms, static_cast<long long>(child::kStopGraceMilliseconds) - 50);
  EXPECT_EQ(exit_code, 0u);
  EXPECT_EQ(WaitForSingleObject(probe, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(exit_code_of(probe), 0u);
  const unsigned long pid = probe_pid(report);
  EXPECT_EQ(g_closes.closes_of(pid), 1);
  std::printf("terminated after %lld ms; the second handler returned after %lld ms\n", first_done_ms,
              second.took_ms);

  // Later events find no child.
  EXPECT_EQ(child::console_control_handler(CTRL_SHUTDOWN_EVENT), FALSE);
  EXPECT_EQ(g_closes.closes_of(pid), 1);
  CloseHandle(probe);
}

}  // namespace
