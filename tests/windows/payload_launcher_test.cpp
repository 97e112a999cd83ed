// Unpacking end to end: launchers built by the packer, started as a user
// starts them, judged by what they leave in their target directories, their
// output and their full exit code. Talks to the system (processes, files).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

constexpr unsigned long kFailure = 2;
const std::string kDecodeLine = "Error, couldn't decode attached data.\n";

std::wstring target_of(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\" + name; }

ProcessResult start(const std::wstring& launcher) { return run_process(quoted(launcher_path(launcher))); }

struct ManifestFile {
  std::wstring name;
  std::uint64_t size = 0;
  std::uint32_t checksum = 0;
};

// "size checksum name" lines, written by the fixtures next to the trees.
std::vector<ManifestFile> read_manifest(const std::wstring& name) {
  const std::string text = read_file(fixture_path(L"payload\\" + name));
  std::vector<ManifestFile> files;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    const std::size_t first = line.find(' ');
    const std::size_t second = line.find(' ', first + 1);
    files.push_back({widen(line.substr(second + 1)), std::stoull(line.substr(0, first)),
                     static_cast<std::uint32_t>(std::stoul(line.substr(first + 1, second - first - 1)))});
    at = end + 1;
  }
  return files;
}

// Every file the manifest names is in the target with its size and checksum.
void expect_tree(const std::wstring& target, const std::vector<ManifestFile>& files) {
  for (const ManifestFile& file : files) {
    const std::string data = read_file(target + L"\\" + file.name);
    EXPECT_EQ(data.size(), file.size) << narrow(file.name);
    EXPECT_EQ(checksum_of(data), file.checksum) << narrow(file.name);
  }
}

std::uint64_t written(const std::wstring& target, const std::wstring& relative) {
  const auto items = snapshot_tree(target);
  const auto found = items.find(relative);
  return found == items.end() ? 0 : found->second.written;
}

TEST(PayloadLauncher, TreeIsUnpackedThenLeftAloneThenRepaired) {
  const std::wstring target = target_of(L"payload_tree");
  const std::vector<ManifestFile> files = read_manifest(L"tree.manifest");
  ASSERT_GT(files.size(), 300u);
  remove_tree(target);

  // First start: everything is made.
  ProcessResult run = start(L"payload_tree");
  ASSERT_EQ(run.exit_code, 0u) << run.out << run.err;
  EXPECT_EQ(report_value(run.out, "module"), narrow(target + L"\\app.exe"));
  expect_tree(target, files);
  // "Dir" and "dir" are one folder on Windows: both files land in it.
  int dir_folders = 0;
  for (const auto& [relative, item] : snapshot_tree(target)) {
    if (CompareStringOrdinal(relative.c_str(), -1, L"dir\\", -1, TRUE) == CSTR_EQUAL) ++dir_folders;
  }
  EXPECT_EQ(dir_folders, 1);

  // Second start: no file written, no folder made, though the child's files
  // (an empty one among them) are held open against writers.
  set_write_times(target, kOldFileTime);
  const auto before = snapshot_tree(target);
  std::vector<HANDLE> held;
  for (const wchar_t* name : {L"empty.txt", L"nested\\empty\\zero.dat", L"big\\large.bin"}) {
    held.push_back(CreateFileW((target + L"\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr));
    ASSERT_NE(held.back(), INVALID_HANDLE_VALUE);
  }
  run = start(L"payload_tree");
  for (HANDLE handle : held) CloseHandle(handle);
  ASSERT_EQ(run.exit_code, 0u) << run.out << run.err;
  EXPECT_EQ(report_value(run.out, "module"), narrow(target + L"\\app.exe"));
  EXPECT_TRUE(snapshot_tree(target) == before);

  // A deleted file, a deleted branch of folders, changed files (same length,
  // same CRC-32 but longer, shorter, an empty one filled) and files of our own.
  DeleteFileW((target + L"\\many\\d3\\s1\\f4.txt").c_str());
  remove_tree(target + L"\\deep\\1\\2\\3");
  std::string changed = read_file(target + L"\\big\\window_plus_one.bin");
  changed[70000] ^= 0x5A;
  write_file(target + L"\\big\\window_plus_one.bin", changed);
  const std::string small = read_file(target + L"\\many\\d0\\s0\\f0.txt");
  write_file(target + L"\\many\\d0\\s0\\f0.txt", small + forge_crc_suffix(small, checksum_of(small)));
  write_file(target + L"\\chunks\\eight.bin", read_file(target + L"\\chunks\\eight.bin").substr(0, 7 * 32768));
  write_file(target + L"\\empty.txt", "x");
  write_file(target + L"\\extra.txt", "ours");
  CreateDirectoryW((target + L"\\many\\d0\\extra").c_str(), nullptr);
  write_file(target + L"\\many\\d0\\extra\\keep.bin", "ours too");

  run = start(L"payload_tree");
  ASSERT_EQ(run.exit_code, 0u) << run.out << run.err;
  expect_tree(target, files);
  EXPECT_EQ(read_file(target + L"\\extra.txt"), "ours");
  EXPECT_EQ(read_file(target + L"\\many\\d0\\extra\\keep.bin"), "ours too");
  for (const wchar_t* untouched : {L"app.exe", L"big\\large.bin", L"many\\d9\\s2\\f9.txt"}) {
    EXPECT_EQ(written(target, untouched), kOldFileTime) << narrow(untouched);
  }
  remove_tree(target);
}

TEST(PayloadLauncher, LargestWindowDecodesAndTheNextLargerIsRefused) {
  remove_tree(target_of(L"payload_window27"));
  remove_tree(target_of(L"payload_window27_plus"));
  ProcessResult run = start(L"payload_window27");
  EXPECT_EQ(run.exit_code, 0u) << run.out << run.err;
  EXPECT_EQ(read_file(target_of(L"payload_window27") + L"\\data\\w.txt"), "window\n");

  run = start(L"payload_window27_plus");
  EXPECT_EQ(run.exit_code, kFailure);
  EXPECT_EQ(run.out, kDecodeLine);
  EXPECT_EQ(run.err, "");
  EXPECT_FALSE(directory_exists(target_of(L"payload_window27_plus")));
}

TEST(PayloadLauncher, MissingEndMarkerStopsAfterTheLastEntry) {
  const std::wstring target = target_of(L"payload_no_end_marker");
  remove_tree(target);
  const ProcessResult run = start(L"payload_no_end_marker");
  EXPECT_EQ(run.exit_code, kFailure);
  EXPECT_EQ(run.out, kDecodeLine);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(file_exists(target + L"\\app.exe"));
  EXPECT_EQ(read_file(target + L"\\data\\last.txt"), "last\n");
}

TEST(PayloadLauncher, EndMarkerAloneLeavesTheChildPathEmptySoTheLaunchFails) {
  const std::wstring target = target_of(L"payload_end_marker_only");
  remove_tree(target);
  const ProcessResult run = start(L"payload_end_marker_only");
  EXPECT_EQ(run.exit_code, kFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Error, couldn't launch child ([Error ", 0), 0u) << run.err;
  EXPECT_FALSE(directory_exists(target));
}

TEST(PayloadLauncher, DamagedFrameKeepsTheEntriesBeforeItAndTheNextRunRepairs) {
  const std::wstring target = target_of(L"payload_damaged");
  const std::vector<ManifestFile> files = read_manifest(L"damaged.manifest");
  remove_tree(target);
  ProcessResult run = start(L"payload_damaged");
  EXPECT_EQ(run.exit_code, kFailure);
  EXPECT_EQ(run.out, kDecodeLine);
  EXPECT_EQ(run.err, "");

  // In archive order: whole files, then none at all; the file the damage
  // falls in never takes its name, and no temporary file stays.
  std::string states;
  for (const ManifestFile& file : files) {
    const std::wstring path = target + L"\\" + file.name;
    if (!file_exists(path)) {
      states += 'a';
      continue;
    }
    const std::string data = read_file(path);
    const std::string expected = read_file(fixture_path(L"trees\\payload_damaged\\" + file.name));
    if (data == expected) {
      states += 'w';
    } else {
      states += data.size() < expected.size() && expected.compare(0, data.size(), data) == 0 ? 'p' : 'x';
    }
  }
  const std::size_t whole = states.find_first_not_of('w');
  ASSERT_NE(whole, std::string::npos) << states;
  EXPECT_GE(whole, 2u) << states;
  EXPECT_EQ(states.substr(whole), std::string(states.size() - whole, 'a')) << states;
  EXPECT_TRUE(temporaries_in(target).empty());

  // The undamaged twin writes only what is missing or cut short.
  set_write_times(target, kOldFileTime);
  run = start(L"payload_repair");
  ASSERT_EQ(run.exit_code, 0u) << run.out << run.err;
  expect_tree(target, files);
  for (std::size_t i = 0; i < whole; ++i) {
    EXPECT_EQ(written(target, files[i].name), kOldFileTime) << narrow(files[i].name);
  }
  remove_tree(target);
}

}  // namespace
