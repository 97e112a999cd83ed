// The target folder's record and lock, end to end: a per-run launcher removes
// its folder after its child and the folders of killed runs of its product;
// folders that are not its own stay; a fixed spec keeps its folder and its
// second start writes nothing, and a later build of its product removes the
// files the earlier one placed and it has not, unless the folder is in use.
// QUORIN_ROUNDS sets the rounds of simultaneous
// runs (default 2; a long run sets hundreds). Talks to the system (starts the
// fixture launchers, kills one, reads and removes what they left).
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

std::wstring test_dir(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\" + name; }

const std::wstring kRunParent = test_dir(L"folder_run");

// The names in folder, "." and ".." left out, sorted.
std::vector<std::wstring> names_in(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

ProcessResult start_run(const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
  ProcessOptions options;
  options.env = env;
  return run_process(quoted(launcher_path(L"folder_run")), options);
}

// A folder of the per-run launcher's shape that is not its own: the same
// files, and a lock file, but no record.
void make_user_folder(const std::wstring& folder) {
  CreateDirectoryW(folder.c_str(), nullptr);
  CreateDirectoryW((folder + L"\\data").c_str(), nullptr);
  CreateDirectoryW((folder + L"\\data\\deep").c_str(), nullptr);
  write_file(folder + L"\\app.exe", "mine");
  write_file(folder + L"\\data\\deep\\readme.txt", "mine too");
  write_file(folder + L"\\~quorin-lock.bin", "");
}

TEST(TargetFolder, PerRunFolderIsRemovedAfterItsChild) {
  remove_tree(kRunParent);
  const ProcessResult run = start_run({{L"QUORIN_PROBE_EXIT", L"5"}});
  // The child's exit code is the launcher's, and the child ran in the folder.
  ASSERT_EQ(run.exit_code, 5u) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string random = report_value(run.out, "QUORIN_ONEFILE_RANDOM");
  EXPECT_EQ(report_value(run.out, "module"), narrow(kRunParent + L"\\run-" + widen(random) + L"\\app.exe"));
  EXPECT_EQ(names_in(kRunParent).size(), 0u);
  remove_tree(kRunParent);
}

// A run in progress: its launcher's process and its child's, whose sleep of
// sleep_ms has begun (its report is whole).
struct RunInProgress {
  HANDLE launcher = nullptr;
  HANDLE child = nullptr;
};

RunInProgress start_run_in_progress(const wchar_t* sleep_ms, const wchar_t* name = L"folder_run") {
  RunInProgress run;
  CreateDirectoryW(test_dir(L"").c_str(), nullptr);
  CreateDirectoryW(kRunParent.c_str(), nullptr);
  const std::wstring report = test_dir(L"folder_run_report.txt");
  DeleteFileW(report.c_str());
  SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", sleep_ms);
  SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", report.c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring line = quoted(launcher_path(name));
  const BOOL created =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", nullptr);
  SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", nullptr);
  if (!created) return run;
  CloseHandle(process.hThread);
  run.launcher = process.hProcess;
  std::string text;
  for (int i = 0; i < 1000 && text.find("pid=") == std::string::npos; ++i) {
    Sleep(10);
    text = file_exists(report) ? read_file(report) : std::string();
  }
  const std::string child_pid = report_value(text, "pid");
  if (child_pid != "<absent>") run.child = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(child_pid));
  DeleteFileW(report.c_str());
  return run;
}

void kill_launcher(RunInProgress& run) {
  TerminateProcess(run.launcher, 9);
  WaitForSingleObject(run.launcher, INFINITE);
  CloseHandle(run.launcher);
  run.launcher = nullptr;
}

void wait_for_child(RunInProgress& run) {
  WaitForSingleObject(run.child, INFINITE);
  CloseHandle(run.child);
  run.child = nullptr;
}

TEST(TargetFolder, RunningRunStaysAndKilledRunIsRemovedByTheNextStart) {
  remove_tree(kRunParent);
  RunInProgress in_progress = start_run_in_progress(L"6000");
  ASSERT_NE(in_progress.launcher, nullptr);
  ASSERT_NE(in_progress.child, nullptr);
  // A run in progress holds its folder: another start leaves every file of it.
  const ProcessResult beside = start_run();
  ASSERT_EQ(beside.exit_code, 0u) << beside.err;
  const std::vector<std::wstring> left = names_in(kRunParent);
  ASSERT_EQ(left.size(), 1u);
  const std::wstring killed = kRunParent + L"\\" + left[0];
  EXPECT_TRUE(file_exists(killed + L"\\data\\deep\\readme.txt"));
  EXPECT_TRUE(file_exists(killed + L"\\~quorin-record.bin"));

  // Its launcher killed, the child outlives it: its program is in use, so it
  // stays, and the record with it; what is not in use is gone.
  kill_launcher(in_progress);
  const ProcessResult while_running = start_run();
  ASSERT_EQ(while_running.exit_code, 0u) << while_running.err;
  EXPECT_EQ(names_in(kRunParent), left);
  EXPECT_TRUE(file_exists(killed + L"\\app.exe"));
  EXPECT_TRUE(file_exists(killed + L"\\~quorin-record.bin"));
  EXPECT_FALSE(directory_exists(killed + L"\\data"));

  // Once the child has ended, the next start removes the rest.
  wait_for_child(in_progress);
  const ProcessResult run = start_run();
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(names_in(kRunParent).size(), 0u);
  remove_tree(kRunParent);
}

// Releases of one product with the default spec, the cache moved to a test
// folder: each start keeps its own build and the newest other one; a build
// whose child runs stays, with every file, until a start after it has ended;
// --keep-builds 0 keeps no other, all keeps every one; another product's
// build and a folder without a record beside them are never touched.
// Starts launcher name and kills it after milliseconds unless it has ended
// by then; true when it was killed. Returns once it is gone.
bool start_and_kill_after(const wchar_t* name, DWORD milliseconds) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring line = quoted(launcher_path(name));
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << narrow(name);
    return false;
  }
  CloseHandle(process.hThread);
  const bool killed = WaitForSingleObject(process.hProcess, milliseconds) == WAIT_TIMEOUT;
  if (killed) TerminateProcess(process.hProcess, 9);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  return killed;
}

// The cache moved to a fresh test folder for the launchers this process
// starts (QUORIN_CACHE_DIR); the folder of product's builds in it.
const std::wstring kCache = test_dir(L"folder_cache");
std::wstring move_cache(const wchar_t* product) {
  remove_tree(kCache);
  CreateDirectoryW(test_dir(L"").c_str(), nullptr);
  SetEnvironmentVariableW(L"QUORIN_CACHE_DIR", kCache.c_str());
  return kCache + L"\\Acme\\" + product;
}

void restore_cache() {
  SetEnvironmentVariableW(L"QUORIN_CACHE_DIR", nullptr);
  remove_tree(kCache);
}

TEST(TargetFolder, OlderBuildsGoButThePreviousOne) {
  const std::wstring parent = move_cache(L"Folder Release");
  // The folder a start ran its child in, below parent.
  const auto start = [&](const wchar_t* name) {
    const ProcessResult run = run_process(quoted(launcher_path(name)), {});
    EXPECT_EQ(run.exit_code, 0u) << run.err;
    const std::wstring module = widen(report_value(run.out, "module"));
    const std::size_t cut = module.rfind(L'\\');
    return cut == std::wstring::npos ? module : module.substr(parent.size() + 1, cut - parent.size() - 1);
  };
  const std::wstring other = start(L"folder_release_other");
  make_user_folder(parent + L"\\1.0.0-user");
  const auto expect_left = [&](std::vector<std::wstring> builds, const char* when) {
    builds.insert(builds.end(), {other, L"1.0.0-user"});
    std::sort(builds.begin(), builds.end());
    EXPECT_EQ(names_in(parent), builds) << when;
  };
  std::vector<std::wstring> release(6);
  std::size_t most = 0;
  for (int r = 1; r <= 4; ++r) {
    release[r] = start((L"folder_release_" + std::to_wstring(r)).c_str());
    most = std::max(most, names_in(parent).size() - 2);
    if (r == 1) {
      expect_left({release[1]}, "release 1");
    } else {
      expect_left({release[r - 1], release[r]}, "releases 2 to 4");
    }
  }
  // Release 4's child runs (its second start wrote nothing) while release 5
  // keeps no other build: release 3 goes, release 4 stays whole.
  RunInProgress running = start_run_in_progress(L"6000", L"folder_release_4");
  ASSERT_NE(running.child, nullptr);
  release[5] = start(L"folder_release_5_keep_0");
  expect_left({release[4], release[5]}, "release 4 in use");
  std::printf("five releases, default spec: at most %zu builds of the product on disk after a start\n",
              std::max(most, names_in(parent).size() - 2));
  EXPECT_EQ(WaitForSingleObject(running.child, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(read_file(parent + L"\\" + release[4] + L"\\release.txt"), "4\n");
  EXPECT_TRUE(file_exists(parent + L"\\" + release[4] + L"\\app.exe"));
  wait_for_child(running);
  WaitForSingleObject(running.launcher, INFINITE);
  CloseHandle(running.launcher);
  start(L"folder_release_5_keep_0");
  expect_left({release[5]}, "release 4 ended");
  // Every build stays with all.
  start(L"folder_release_1");
  start(L"folder_release_5_keep_all");
  expect_left({release[1], release[5]}, "keep all");
  EXPECT_EQ(read_file(parent + L"\\1.0.0-user\\app.exe"), "mine");
  restore_cache();
}

// Two builds of one product that keep no other, started in turn, each start
// of the second killed at a moment spread over its placing and its removal
// of the first: every start of the first finds its files whole (its child
// checks them all), and after one last start of the second only its folder
// is left. QUORIN_KILLS sets the count (default 3).
TEST(TargetFolder, RemovalKilledAtAnyMomentIsFinishedByTheNextStart) {
  const std::wstring parent = move_cache(L"Folder Big");
  ProcessOptions verify;
  verify.env = {{L"QUORIN_PROBE_VERIFY", L"manifest.txt"}};
  const int kills = count_from_env("QUORIN_KILLS", 3);
  int killed = 0;
  for (int k = 0; k < kills; ++k) {
    const ProcessResult first = run_process(quoted(launcher_path(L"folder_big_a")), verify);
    ASSERT_EQ(first.exit_code, 0u) << "after kill " << k << ": " << first.out << first.err;
    killed += start_and_kill_after(L"folder_big_b", static_cast<DWORD>(k * 29 % 400)) ? 1 : 0;
  }
  const ProcessResult last = run_process(quoted(launcher_path(L"folder_big_b")), verify);
  ASSERT_EQ(last.exit_code, 0u) << last.out << last.err;
  const std::vector<std::wstring> left = names_in(parent);
  std::printf("removal of an older build killed: %d starts, %d killed before their end, %zu build folders left "
              "after one more start\n",
              kills, killed, left.size());
  EXPECT_EQ(left.size(), 1u);
  restore_cache();
}

// Makes link a junction (a mount point) to target; false where the system
// makes none (Wine 8.0 has no reparse points), with nothing left at link.
bool make_junction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  // The mount point's reparse data: tag, data length, reserved; then the
  // substitute name's offset and length, the print name's, and both names
  // with their terminators (the print name empty).
  const std::wstring substitute = L"\\??\\" + target;
  const WORD substitute_bytes = static_cast<WORD>(2 * substitute.size());
  std::vector<unsigned char> data(8 + 8 + substitute_bytes + 2 + 2, 0);
  const auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) data[at + i] = static_cast<unsigned char>(value >> (8 * i));
  };
  put(0, IO_REPARSE_TAG_MOUNT_POINT, 4);
  put(4, static_cast<std::uint32_t>(data.size() - 8), 2);
  put(8, 0, 2);
  put(10, substitute_bytes, 2);
  put(12, substitute_bytes + 2u, 2);
  put(14, 0, 2);
  for (std::size_t i = 0; i < substitute.size(); ++i) put(16 + 2 * i, substitute[i], 2);
  DWORD returned = 0;
  const bool made = folder != INVALID_HANDLE_VALUE &&
                    DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                                    nullptr, 0, &returned, nullptr);
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (made && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  RemoveDirectoryW(link.c_str());
  return false;
}

// Launchers killed while their children run, one after another: each leaves
// its folder, and one normal start removes them all. QUORIN_KILLS sets the
// count (default 3).
TEST(TargetFolder, FoldersOfKilledRunsGoWithOneStart) {
  remove_tree(kRunParent);
  const int kills = count_from_env("QUORIN_KILLS", 3);
  int started = 0;
  for (int k = 0; k < kills; ++k) {
    RunInProgress run = start_run_in_progress(L"300");
    if (run.launcher == nullptr || run.child == nullptr) continue;
    ++started;
    kill_launcher(run);
    wait_for_child(run);
  }
  const std::size_t before = names_in(kRunParent).size();
  const ProcessResult run = start_run();
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  const std::size_t left = names_in(kRunParent).size();
  std::printf("per-run kills: %d launchers killed while their children ran, %zu folders left by them, "
              "%zu left after one start\n",
              started, before, left);
  EXPECT_EQ(started, kills);
  EXPECT_EQ(before, static_cast<std::size_t>(started));
  EXPECT_EQ(left, 0u);
  remove_tree(kRunParent);
}

// Launchers killed at moments spread over a whole run, removal included:
// whatever each leaves, one normal start removes, and a user's folder beside
// them keeps every file. QUORIN_KILLS sets the count (default 5: moments
// 0, 37, 74, 111 and 148 ms).
TEST(TargetFolder, RunsKilledAtAnyMomentLeaveNothingAfterOneStart) {
  remove_tree(kRunParent);
  CreateDirectoryW(test_dir(L"").c_str(), nullptr);
  CreateDirectoryW(kRunParent.c_str(), nullptr);
  const std::wstring user_folder = kRunParent + L"\\run-user";
  make_user_folder(user_folder);
  const int kills = count_from_env("QUORIN_KILLS", 5);
  int killed = 0;
  // The children report to a file, not to the test's output.
  SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", test_dir(L"folder_run_report.txt").c_str());
  for (int k = 0; k < kills; ++k) {
    // 0 to 150 ms: from before the folder is made to after the child has ended.
    killed += start_and_kill_after(L"folder_run", static_cast<DWORD>(k * 37 % 151)) ? 1 : 0;
  }
  SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", nullptr);
  // A child whose launcher was killed may still be ending.
  Sleep(300);
  const std::size_t before = names_in(kRunParent).size() - 1;
  const ProcessResult run = start_run();
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  const std::vector<std::wstring> left = names_in(kRunParent);
  std::printf("per-run kills at any moment: %d starts, %d killed before their end, %zu folders left by them, "
              "%zu left after one start\n",
              kills, killed, before, left.size() - 1);
  EXPECT_EQ(left, std::vector<std::wstring>{L"run-user"});
  for (const std::wstring& name : left) {
    if (name == L"run-user") continue;
    for (const std::wstring& inside : names_in(kRunParent + L"\\" + name)) {
      std::printf("  left in %s: %s\n", narrow(name).c_str(), narrow(inside).c_str());
    }
  }
  EXPECT_EQ(read_file(user_folder + L"\\app.exe"), "mine");
  EXPECT_EQ(read_file(user_folder + L"\\data\\deep\\readme.txt"), "mine too");
  EXPECT_TRUE(file_exists(user_folder + L"\\~quorin-lock.bin"));
  remove_tree(kRunParent);
}

// Folders of the per-run shape without a record: a run killed before its
// record was written, or after its removal deleted the record, leaves one
// that holds the launcher's own names alone (its lock file, temporaries of
// ended runs) or nothing, and one start removes it. A folder that holds
// anything else, whose lock is held, or of another shape stays whole.
TEST(TargetFolder, UnrecordedFoldersGoOnlyWhenTheyHoldTheLaunchersOwnNamesAlone) {
  struct Case {
    const wchar_t* folder;
    std::vector<std::wstring> names;  // a name ending in a backslash is a folder
    bool held;                        // the test holds its lock as a running start does
    bool removed;
  };
  const std::wstring lock = L"~quorin-lock.bin";
  // No process has this number; the test's own is running.
  const std::wstring ended = L"~quorin-4000000000-0.tmp";
  const std::wstring running = L"~quorin-" + std::to_wstring(GetCurrentProcessId()) + L"-0.tmp";
  const Case cases[] = {
      {L"run-empty", {}, false, true},
      {L"run-lock", {lock}, false, true},
      {L"run-lock-ended", {lock, ended}, false, true},
      {L"run-ended", {ended}, false, true},
      {L"run-held", {lock}, true, false},
      {L"run-running", {lock, running}, false, false},
      {L"run-notes", {lock, L"notes.txt"}, false, false},
      {L"run-folder", {lock, L"sub\\"}, false, false},
      {L"run-record", {lock, L"~quorin-record.bin"}, false, false},
      {L"other-lock", {lock}, false, false},
  };
  remove_tree(kRunParent);
  CreateDirectoryW(test_dir(L"").c_str(), nullptr);
  CreateDirectoryW(kRunParent.c_str(), nullptr);
  std::vector<HANDLE> held;
  for (const Case& c : cases) {
    const std::wstring folder = kRunParent + L"\\" + c.folder;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& name : c.names) {
      if (name.back() == L'\\') {
        CreateDirectoryW((folder + L"\\" + name).c_str(), nullptr);
      } else {
        write_file(folder + L"\\" + name, "");
      }
    }
    if (!c.held) continue;
    HANDLE file = CreateFileW((folder + L"\\" + lock).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    OVERLAPPED at = {};
    ASSERT_TRUE(LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
    held.push_back(file);
  }
  const ProcessResult run = start_run();
  for (HANDLE file : held) CloseHandle(file);
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  for (const Case& c : cases) {
    const std::wstring folder = kRunParent + L"\\" + c.folder;
    if (c.removed) {
      EXPECT_FALSE(directory_exists(folder)) << narrow(c.folder);
      continue;
    }
    std::vector<std::wstring> names;
    for (const std::wstring& name : c.names) {
      names.push_back(name.back() == L'\\' ? name.substr(0, name.size() - 1) : name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names_in(folder), names) << narrow(c.folder);
  }
  remove_tree(kRunParent);
}

// The folder a run killed while its child ran leaves (its record, lock file
// and files), once its child has ended; empty when there is none.
std::wstring killed_run_folder() {
  RunInProgress run = start_run_in_progress(L"300");
  if (run.launcher == nullptr || run.child == nullptr) return std::wstring();
  kill_launcher(run);
  wait_for_child(run);
  const std::vector<std::wstring> left = names_in(kRunParent);
  return left.size() == 1 ? kRunParent + L"\\" + left[0] : std::wstring();
}

// A killed run's folder that lacks a part still goes with one start: its
// lock file (an older launcher's removal, cut short between the lock file
// and the record), a folder on the way to its files (a run killed while it
// made them).
TEST(TargetFolder, KilledRunsFoldersMissingAPartGoWithOneStart) {
  struct Case {
    const char* what;
    const wchar_t* missing;  // under the run's folder; a name ending in a backslash is a folder
  };
  const Case cases[] = {
      {"lock file", L"~quorin-lock.bin"},
      {"folder on the way", L"data\\deep\\"},
  };
  for (const Case& c : cases) {
    remove_tree(kRunParent);
    const std::wstring folder = killed_run_folder();
    ASSERT_NE(folder, L"") << c.what;
    const std::wstring missing = folder + L"\\" + c.missing;
    if (missing.back() == L'\\') {
      remove_tree(missing.substr(0, missing.size() - 1));
    } else {
      ASSERT_TRUE(DeleteFileW(missing.c_str())) << c.what;
    }
    ASSERT_TRUE(file_exists(folder + L"\\~quorin-record.bin")) << c.what;
    const ProcessResult run = start_run();
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(names_in(kRunParent).size(), 0u) << c.what;
  }
  remove_tree(kRunParent);
}

TEST(TargetFolder, RemovalFollowsNoJunction) {
  remove_tree(kRunParent);
  const std::wstring outside = test_dir(L"folder_outside");
  remove_tree(outside);
  CreateDirectoryW(outside.c_str(), nullptr);
  CreateDirectoryW((outside + L"\\deep").c_str(), nullptr);
  write_file(outside + L"\\deep\\readme.txt", "not the launcher's");
  // A killed run's folder whose "data" is a junction to a folder elsewhere.
  RunInProgress killed_run = start_run_in_progress(L"1000");
  ASSERT_NE(killed_run.launcher, nullptr);
  kill_launcher(killed_run);
  if (killed_run.child != nullptr) wait_for_child(killed_run);
  const std::vector<std::wstring> left = names_in(kRunParent);
  ASSERT_EQ(left.size(), 1u);
  const std::wstring killed = kRunParent + L"\\" + left[0];
  remove_tree(killed + L"\\data");
  if (!make_junction(killed + L"\\data", outside)) {
    remove_tree(kRunParent);
    remove_tree(outside);
    GTEST_SKIP() << "this system makes no junctions";
  }
  const ProcessResult run = start_run();
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(read_file(outside + L"\\deep\\readme.txt"), "not the launcher's");
  // The name under the junction is not gone: the record stays for a later look.
  EXPECT_TRUE(file_exists(killed + L"\\~quorin-record.bin"));
  RemoveDirectoryW((killed + L"\\data").c_str());
  remove_tree(kRunParent);
  remove_tree(outside);
}

TEST(TargetFolder, FailedRunIsRemovedByTheNextStart) {
  remove_tree(kRunParent);
  // The record goes in before the files: a start that stops while placing
  // leaves a folder that is the product's own.
  const ProcessResult failed = run_process(quoted(launcher_path(L"folder_run_broken")));
  EXPECT_EQ(failed.exit_code, 2u);
  EXPECT_EQ(failed.out, "Error, couldn't decode attached data.\n");
  const std::vector<std::wstring> left = names_in(kRunParent);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(file_exists(kRunParent + L"\\" + left[0] + L"\\app.exe"));
  EXPECT_TRUE(file_exists(kRunParent + L"\\" + left[0] + L"\\~quorin-record.bin"));

  const ProcessResult run = start_run();
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(names_in(kRunParent).size(), 0u);
  remove_tree(kRunParent);
}

// Runs of one per-run launcher at once: each removes its own folder and looks
// at the others', which are in use. Every child finds its files whole, and no
// folder is left. QUORIN_ROUNDS sets the rounds of four (default 2).
TEST(TargetFolder, SimultaneousRunsKeepEachOthersFoldersAndLeaveNone) {
  remove_tree(kRunParent);
  const int rounds = count_from_env("QUORIN_ROUNDS", 2);
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", L"manifest.txt");
  SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", L"50");
  int failed = 0, left = 0;
  for (int round = 0; round < rounds; ++round) {
    ProcessResult runs[4];
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(go, nullptr);
    std::vector<std::thread> threads;
    for (ProcessResult& run : runs) {
      threads.emplace_back([go, &run] {
        WaitForSingleObject(go, INFINITE);
        run = run_process(quoted(launcher_path(L"folder_run")));
      });
    }
    SetEvent(go);
    for (std::thread& thread : threads) thread.join();
    CloseHandle(go);
    for (const ProcessResult& run : runs) {
      if (run.exit_code != 0) {
        ++failed;
        ADD_FAILURE() << "round " << round << ": exit " << run.exit_code << "\n" << run.out << run.err;
      }
    }
    left += static_cast<int>(names_in(kRunParent).size());
    remove_tree(kRunParent);
  }
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", nullptr);
  SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", nullptr);
  std::printf("simultaneous per-run starts: %d rounds of 4, %d failed, %d folders left\n", rounds, failed, left);
  EXPECT_EQ(left, 0);
}

TEST(TargetFolder, FoldersNotOfThisProductStay) {
  remove_tree(kRunParent);
  // Another product's launcher unpacks beside the runs (a fixed spec: it stays).
  const ProcessResult other = run_process(quoted(launcher_path(L"folder_other")));
  ASSERT_EQ(other.exit_code, 0u) << other.err;
  const std::wstring other_folder = kRunParent + L"\\run-other";
  ASSERT_TRUE(file_exists(other_folder + L"\\~quorin-record.bin"));
  // A folder of the same shape without a record: the user's own.
  const std::wstring user_folder = kRunParent + L"\\run-user";
  make_user_folder(user_folder);
  // A run's folder whose record is damaged counts as having none.
  const std::wstring damaged_folder = kRunParent + L"\\run-damaged";
  make_user_folder(damaged_folder);
  std::string record = read_file(other_folder + L"\\~quorin-record.bin");
  write_file(damaged_folder + L"\\~quorin-record.bin", record.substr(0, record.size() - 1));

  const ProcessResult run = start_run();
  ASSERT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(names_in(kRunParent), (std::vector<std::wstring>{L"run-damaged", L"run-other", L"run-user"}));
  for (const std::wstring& folder : {other_folder, user_folder, damaged_folder}) {
    EXPECT_TRUE(file_exists(folder + L"\\app.exe")) << narrow(folder);
    EXPECT_TRUE(file_exists(folder + L"\\data\\deep\\readme.txt")) << narrow(folder);
    EXPECT_TRUE(file_exists(folder + L"\\~quorin-lock.bin")) << narrow(folder);
  }
  EXPECT_EQ(read_file(user_folder + L"\\app.exe"), "mine");
  remove_tree(kRunParent);
}

TEST(TargetFolder, FixedSpecKeepsItsFolderAndItsSecondStartWritesNothing) {
  const std::wstring folder = test_dir(L"folder_fixed");
  remove_tree(folder);
  const ProcessResult first = run_process(quoted(launcher_path(L"folder_fixed")));
  ASSERT_EQ(first.exit_code, 0u) << first.err;
  const std::vector<std::wstring> names = names_in(folder);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"app.exe", L"data", L"manifest.txt", L"~quorin-lock.bin",
                                              L"~quorin-record.bin"}));
  const std::wstring record_path = folder + L"\\~quorin-record.bin";
  const std::string record = read_file(record_path);
  WIN32_FILE_ATTRIBUTE_DATA before = {};
  ASSERT_TRUE(GetFileAttributesExW(record_path.c_str(), GetFileExInfoStandard, &before));
  // Marks the record's time, so that any rewrite would show.
  HANDLE file =
      CreateFileW(record_path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME marked = {0x12345678, 0x01D00000};
  ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &marked));
  CloseHandle(file);

  const ProcessResult second = run_process(quoted(launcher_path(L"folder_fixed")));
  ASSERT_EQ(second.exit_code, 0u) << second.err;
  EXPECT_EQ(names_in(folder), names);
  EXPECT_EQ(read_file(record_path), record);
  WIN32_FILE_ATTRIBUTE_DATA after = {};
  ASSERT_TRUE(GetFileAttributesExW(record_path.c_str(), GetFileExInfoStandard, &after));
  EXPECT_EQ(after.ftLastWriteTime.dwLowDateTime, marked.dwLowDateTime);
  EXPECT_EQ(after.ftLastWriteTime.dwHighDateTime, marked.dwHighDateTime);
  EXPECT_TRUE(file_exists(folder + L"\\data\\deep\\readme.txt"));
  remove_tree(folder);
}

const std::wstring kStaleFolder = test_dir(L"folder_stale");

ProcessResult start_stale(const wchar_t* name) { return run_process(quoted(launcher_path(name))); }

// Starts build A, then adds files of the user's beside its own.
void place_build_a_and_user_files() {
  remove_tree(kStaleFolder);
  const ProcessResult earlier = start_stale(L"folder_stale_a");
  ASSERT_EQ(earlier.exit_code, 0u) << earlier.err;
  ASSERT_TRUE(file_exists(kStaleFolder + L"\\extra.lua"));
  write_file(kStaleFolder + L"\\user.txt", "the user's");
  write_file(kStaleFolder + L"\\data\\old\\mine.txt", "the user's too");
}

void expect_build_a_files_gone() {
  EXPECT_FALSE(file_exists(kStaleFolder + L"\\extra.lua"));
  EXPECT_FALSE(file_exists(kStaleFolder + L"\\data\\old\\x.txt"));
  // Not the launcher's: they stay, and the folder holding one with them.
  EXPECT_EQ(read_file(kStaleFolder + L"\\user.txt"), "the user's");
  EXPECT_EQ(read_file(kStaleFolder + L"\\data\\old\\mine.txt"), "the user's too");
  EXPECT_EQ(read_file(kStaleFolder + L"\\keep.txt"), "build B\n");
  EXPECT_EQ(read_file(kStaleFolder + L"\\data\\new.txt"), "new\n");
  // The same file to Windows: kept as build A placed it, never removed.
  EXPECT_EQ(names_in(kStaleFolder),
            (std::vector<std::wstring>{L"Shared.txt", L"app.exe", L"data", L"keep.txt", L"user.txt",
                                       L"~quorin-lock.bin", L"~quorin-record.bin"}));
}

// Takes the lock of the stale folder as a start (shared) or a removal
// (exclusive) would; true when it was had (and let go again).
bool lock_had(DWORD flags) {
  HANDLE lock = CreateFileW((kStaleFolder + L"\\~quorin-lock.bin").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = {};
  const bool had = LockFileEx(lock, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
  if (had) UnlockFileEx(lock, 0, 1, 0, &at);
  CloseHandle(lock);
  return had;
}

TEST(TargetFolder, LaterBuildRemovesTheFilesTheEarlierPlacedAndItHasNot) {
  place_build_a_and_user_files();
  RunInProgress later = start_run_in_progress(L"1500", L"folder_stale_b");
  ASSERT_NE(later.launcher, nullptr);
  ASSERT_NE(later.child, nullptr);
  // Gone before the child started, and while it runs its launcher holds the
  // folder shared, as any start does: another start is let in, a removal not.
  EXPECT_FALSE(file_exists(kStaleFolder + L"\\extra.lua"));
  EXPECT_TRUE(lock_had(0));
  EXPECT_FALSE(lock_had(LOCKFILE_EXCLUSIVE_LOCK));
  wait_for_child(later);
  WaitForSingleObject(later.launcher, INFINITE);
  DWORD exit_code = 1;
  GetExitCodeProcess(later.launcher, &exit_code);
  CloseHandle(later.launcher);
  EXPECT_EQ(exit_code, 0u);
  expect_build_a_files_gone();
  remove_tree(kStaleFolder);
  remove_tree(kRunParent);
}

TEST(TargetFolder, LaterBuildLeavesAFolderInUseAndANextStartRemoves) {
  place_build_a_and_user_files();
  // Another start's lock, as a running launcher holds it.
  HANDLE lock = CreateFileW((kStaleFolder + L"\\~quorin-lock.bin").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  OVERLAPPED at = {};
  ASSERT_TRUE(LockFileEx(lock, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
  const ProcessResult in_use = start_stale(L"folder_stale_b");
  ASSERT_EQ(in_use.exit_code, 0u) << in_use.err;
  EXPECT_EQ(in_use.err, "");
  EXPECT_NE(report_value(in_use.out, "module"), "<absent>");
  EXPECT_EQ(read_file(kStaleFolder + L"\\extra.lua"), "return 1\n");
  EXPECT_EQ(read_file(kStaleFolder + L"\\data\\old\\x.txt"), "x\n");
  EXPECT_EQ(read_file(kStaleFolder + L"\\keep.txt"), "build B\n");
  UnlockFileEx(lock, 0, 1, 0, &at);
  CloseHandle(lock);

  // The record still names them: the next start, alone, removes them.
  const ProcessResult alone = start_stale(L"folder_stale_b");
  ASSERT_EQ(alone.exit_code, 0u) << alone.err;
  expect_build_a_files_gone();
  remove_tree(kStaleFolder);
}

TEST(TargetFolder, LaterBuildLeavesAFileInUseForALaterStart) {
  place_build_a_and_user_files();
  // Open without leave to delete it, as a program the child left running.
  HANDLE in_use = CreateFileW((kStaleFolder + L"\\extra.lua").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(in_use, INVALID_HANDLE_VALUE);
  const ProcessResult while_open = start_stale(L"folder_stale_b");
  CloseHandle(in_use);
  ASSERT_EQ(while_open.exit_code, 0u) << while_open.err;
  EXPECT_EQ(while_open.err, "");
  EXPECT_TRUE(file_exists(kStaleFolder + L"\\extra.lua"));
  EXPECT_FALSE(file_exists(kStaleFolder + L"\\data\\old\\x.txt"));

  const ProcessResult closed = start_stale(L"folder_stale_b");
  ASSERT_EQ(closed.exit_code, 0u) << closed.err;
  expect_build_a_files_gone();
  remove_tree(kStaleFolder);
}

TEST(TargetFolder, LaterBuildLeavesTheFilesOfAnotherProduct) {
  remove_tree(kStaleFolder);
  const ProcessResult other = start_stale(L"folder_stale_other");
  ASSERT_EQ(other.exit_code, 0u) << other.err;
  const ProcessResult later = start_stale(L"folder_stale_b");
  ASSERT_EQ(later.exit_code, 0u) << later.err;
  EXPECT_EQ(read_file(kStaleFolder + L"\\extra.lua"), "return 1\n");
  EXPECT_EQ(read_file(kStaleFolder + L"\\data\\old\\x.txt"), "x\n");
  remove_tree(kStaleFolder);
}

}  // namespace
