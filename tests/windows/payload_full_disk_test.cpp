// A full disk: the drive in QUORIN_FULL_DISK_DRIVE (a small tmpfs mounted as a
// Wine drive before the test; without one the test is skipped) is filled so
// that a launcher's last file finds far too little room, or exactly one byte
// too little. Both end with the write message and exit code 2, the real name
// gets nothing, and the next start with room repairs the tree. Talks to the
// system (files on that drive).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

std::wstring full_disk_drive() {
  const char* drive = std::getenv("QUORIN_FULL_DISK_DRIVE");
  return drive != nullptr ? widen(drive) : L"";
}

std::uint64_t free_bytes(const std::wstring& drive) {
  ULARGE_INTEGER available = {}, total = {}, free = {};
  GetDiskFreeSpaceExW((drive + L"\\").c_str(), &available, &total, &free);
  return available.QuadPart;
}

// Fills the drive with one file until exactly room bytes are free.
bool leave_room(const std::wstring& drive, std::uint64_t room) {
  const std::wstring filler = drive + L"\\filler.bin";
  DeleteFileW(filler.c_str());
  const std::uint64_t free = free_bytes(drive);
  if (free < room) return false;
  HANDLE file = CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  const std::string block(1 << 20, 'f');
  for (std::uint64_t left = free - room; left > 0;) {
    const DWORD chunk = static_cast<DWORD>(left < block.size() ? left : block.size());
    DWORD written = 0;
    if (!WriteFile(file, block.data(), chunk, &written, nullptr) || written != chunk) break;
    left -= chunk;
  }
  CloseHandle(file);
  return free_bytes(drive) == room;
}

TEST(FullDisk, TheWriteFailsWithTheWriteMessageAndTheNextStartWithRoomRepairs) {
  const std::wstring drive = full_disk_drive();
  if (drive.empty() || GetFileAttributesW((drive + L"\\").c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no small drive for this test (scripts/full-disk-drive mounts one; it needs root)";
  }
  const std::wstring target = drive + L"\\quorin-full";
  const std::wstring big = target + L"\\big.bin";
  const std::string expected = read_file(fixture_path(L"trees\\full_disk\\big.bin"));
  const struct {
    const char* what;
    std::uint64_t room;
  } cases[] = {
      {"far too little room", 65536},
      // A page more than 1 MiB: the file is one byte larger.
      {"one byte too little", expected.size() - 1},
  };
  for (const auto& c : cases) {
    remove_tree(target);
    DeleteFileW((drive + L"\\filler.bin").c_str());
    // Everything but the big file is current.
    ProcessResult run = run_process(launcher_path(L"full_disk"));
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    DeleteFileW(big.c_str());
    ASSERT_TRUE(leave_room(drive, c.room)) << c.what << ": " << free_bytes(drive) << " bytes free";

    run = run_process(launcher_path(L"full_disk"));
    EXPECT_EQ(run.exit_code, 2u) << c.what;
    EXPECT_EQ(run.out, "") << c.what;
    EXPECT_EQ(run.err.rfind("Error, couldn't unpack file to target path. ([Error 112] ", 0), 0u) << c.what << run.err;
    EXPECT_FALSE(file_exists(big)) << c.what;
    EXPECT_TRUE(temporaries_in(target).empty()) << c.what;
    EXPECT_EQ(free_bytes(drive), c.room) << c.what << ": the partial file's room is given back";

    std::printf("full disk, %s (%llu bytes free for %zu): exit %lu, %s", c.what,
                static_cast<unsigned long long>(c.room), expected.size(), run.exit_code, run.err.c_str());

    DeleteFileW((drive + L"\\filler.bin").c_str());
    run = run_process(launcher_path(L"full_disk"));
    EXPECT_EQ(run.exit_code, 0u) << c.what << run.err;
    std::printf("  the next start with room: exit %lu, big.bin %s\n", run.exit_code,
                read_file(big) == expected ? "whole" : "wrong");
    EXPECT_TRUE(read_file(big) == expected) << c.what;
  }
  remove_tree(target);
}

}  // namespace
