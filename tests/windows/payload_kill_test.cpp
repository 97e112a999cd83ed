// Launchers killed at random moments while they unpack a large tree: no file
// under its real name may hold anything but its whole content, and the next
// start repairs the tree and clears what the killed run left. QUORIN_KILLS
// sets the number of kills (default 3), QUORIN_SEED the moments. Talks to the
// system (processes, files).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

struct ManifestFile {
  std::wstring name;
  std::uint64_t size;
  std::uint32_t checksum;
};

std::vector<ManifestFile> read_manifest(const std::wstring& path) {
  const std::string text = read_file(path);
  std::vector<ManifestFile> files;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    const std::size_t first = line.find(' '), second = line.find(' ', first + 1);
    files.push_back({widen(line.substr(second + 1)), std::stoull(line.substr(0, first)),
                     static_cast<std::uint32_t>(std::stoul(line.substr(first + 1, second - first - 1)))});
    at = end + 1;
  }
  return files;
}

// Starts the launcher with its output dropped; the process handle, or null.
HANDLE start_launcher(const std::wstring& launcher) {
  std::wstring line = quoted(launcher);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

TEST(Killed, NoFileUnderItsNameIsWrongAndTheNextStartRepairsAndClearsUp) {
  const int kills = count_from_env("QUORIN_KILLS", 3);
  const unsigned seed = static_cast<unsigned>(count_from_env("QUORIN_SEED", static_cast<int>(GetTickCount())));
  std::srand(seed);
  const std::wstring target = temp_dir() + L"\\quorin-tests\\kill";
  const std::wstring launcher = launcher_path(L"kill");
  std::vector<ManifestFile> files = read_manifest(fixture_path(L"trees\\kill\\manifest.txt"));
  const std::string manifest = read_file(fixture_path(L"trees\\kill\\manifest.txt"));

  // How long a whole first start takes: the kills fall within it.
  remove_tree(target);
  const auto start = std::chrono::steady_clock::now();
  HANDLE whole = start_launcher(launcher);
  ASSERT_NE(whole, nullptr);
  WaitForSingleObject(whole, INFINITE);
  CloseHandle(whole);
  const long long span = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();

  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", L"manifest.txt");
  int mid_unpack = 0, wrong = 0, left_by_kill = 0, left_after = 0, repaired = 0;
  for (int kill = 0; kill < kills; ++kill) {
    remove_tree(target);
    HANDLE process = start_launcher(launcher);
    ASSERT_NE(process, nullptr);
    Sleep(static_cast<DWORD>(std::rand() % (span > 0 ? span : 1)));
    // One that has ended by itself was not killed at all.
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) ++mid_unpack;
    TerminateProcess(process, 0xDEAD);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);

    for (const ManifestFile& file : files) {
      const std::string data = read_file(target + L"\\" + file.name);
      if (data == "<missing>") continue;
      if (data.size() != file.size || checksum_of(data) != file.checksum) {
        ++wrong;
        ADD_FAILURE() << "kill " << kill << ": " << narrow(file.name) << " holds " << data.size() << " bytes";
      }
    }
    const std::string manifest_there = read_file(target + L"\\manifest.txt");
    if (manifest_there != "<missing>" && manifest_there != manifest) {
      ++wrong;
      ADD_FAILURE() << "kill " << kill << ": manifest.txt holds " << manifest_there.size() << " bytes";
    }
    left_by_kill += static_cast<int>(temporaries_in(target).size());

    // The next start: its child checks every file.
    const ProcessResult next = run_process(quoted(launcher));
    if (next.exit_code == 0) {
      ++repaired;
    } else {
      ADD_FAILURE() << "kill " << kill << ": the next start ended with " << next.exit_code << "\n" << next.out << next.err;
    }
    left_after += static_cast<int>(temporaries_in(target).size());
  }
  SetEnvironmentVariableW(L"QUORIN_PROBE_VERIFY", nullptr);
  std::printf("killed mid-unpack: %d kills (seed %u, within %lld ms; %d still running when killed), %d files under their "
              "real names with wrong content, %d temporary files left by the kills, %d left after the next start, "
              "%d of %d next starts repaired the tree\n",
              kills, seed, span, mid_unpack, wrong, left_by_kill, left_after, repaired, kills);
  EXPECT_EQ(left_after, 0);
  EXPECT_EQ(repaired, kills);
  remove_tree(target);
}

}  // namespace
