// Busy files end to end: four launchers of one build started at once on an
// empty target, their children checking every payload file; a running child
// program replaced by a new build. Launchers built by the packer, started as
// a user starts them. QUORIN_ROUNDS sets the rounds of simultaneous starts
// (default 10). Talks to the system (processes, files).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

// The probe child's exit code when a file it checks is wrong or missing.
constexpr unsigned long kProbeSawABadFile = 77;

std::wstring target_of(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\" + name; }

TEST(SimultaneousStarts, FourLaunchersOnAnEmptyTargetAllSucceedAndEveryChildSeesEveryFile) {
  const int rounds = count_from_env("QUORIN_ROUNDS", 10);
  const std::wstring target = target_of(L"busy");
  // Set once for the whole run: the launchers start from four threads at once.
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", L"manifest.txt");
  int failed = 0, saw_bad = 0, temporaries_left = 0;
  for (int round = 0; round < rounds; ++round) {
    remove_tree(target);
    ProcessResult runs[4];
    // One gate opened for all four at once. (Not std::latch: the runtime's
    // wait without futexes can miss a wake-up and leave a thread waiting.)
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(go, nullptr);
    std::vector<std::thread> threads;
    for (ProcessResult& run : runs) {
      threads.emplace_back([go, &run] {
        WaitForSingleObject(go, INFINITE);
        run = run_process(launcher_path(L"busy"));
      });
    }
    SetEvent(go);
    for (std::thread& thread : threads) thread.join();
    CloseHandle(go);
    for (const ProcessResult& run : runs) {
      if (run.exit_code == kProbeSawABadFile) {
        ++saw_bad;
        ADD_FAILURE() << "round " << round << ": a child saw a bad file\n" << run.out;
      } else if (run.exit_code != 0) {
        ++failed;
        ADD_FAILURE() << "round " << round << ": exit " << run.exit_code << "\n" << run.out << run.err;
      }
    }
    temporaries_left += static_cast<int>(temporaries_in(target).size());
  }
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", nullptr);
  std::printf("simultaneous starts: %d rounds of 4, %d launches failed, %d children saw a wrong or missing file, "
              "%d temporary files left\n",
              rounds, failed, saw_bad, temporaries_left);
  EXPECT_EQ(temporaries_left, 0);
  remove_tree(target);
}

TEST(BusyFile, RunningChildProgramIsReplacedByANewBuild) {
  const std::wstring target = target_of(L"replace");
  const std::wstring report = target_of(L"replace-v1-report.txt");
  remove_tree(target);
  DeleteFileW(report.c_str());

  // The first build's child runs for a while.
  ProcessResult first;
  std::thread running([&] {
    ProcessOptions options;
    options.env = {{L"QUORIN_PROBE_SLEEP_MS", L"4000"}, {L"QUORIN_PROBE_REPORT", report}};
    first = run_process(launcher_path(L"replace_v1"), options);
  });
  for (int waited = 0; !file_exists(report) && waited < 30000; waited += 20) Sleep(20);
  ASSERT_TRUE(file_exists(report));

  // The second build replaces the running program and runs its own.
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", L"manifest.txt");
  const ProcessResult second = run_process(launcher_path(L"replace_v2"));
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", nullptr);
  running.join();
  EXPECT_EQ(second.exit_code, 0u) << second.out << second.err;
  EXPECT_EQ(report_value(second.out, "module"), narrow(target + L"\\app.exe"));
  EXPECT_EQ(read_file(target + L"\\app.exe"), read_file(fixture_path(L"trees\\replace_v2\\app.exe")));
  EXPECT_EQ(read_file(target + L"\\data\\version.txt"), "version 2\n");
  EXPECT_EQ(first.exit_code, 0u) << first.out << first.err;

  // The old program, moved aside while it ran, went as soon as its run had
  // ended (that run's launcher clears the child's folder as it ends), and a
  // later start that writes nothing finds nothing left either.
  EXPECT_TRUE(temporaries_in(target).empty());
  const ProcessResult third = run_process(launcher_path(L"replace_v2"));
  EXPECT_EQ(third.exit_code, 0u) << third.err;
  EXPECT_TRUE(temporaries_in(target).empty());
  remove_tree(target);
  DeleteFileW(report.c_str());
}

}  // namespace
