// Staged placement in this process: damaged data never takes a file's name, a
// stale file held open by a reader is replaced or, where the system refuses
// every way, reported after the bounded retry, the temporaries of ended runs
// are cleared while everything else stays, temporary names taken by folders
// are passed over, and links inside the target directory are not followed. Talks to the system (files,
// folders and processes under the temporary folder).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "payload/staging.h"
#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

constexpr char kDecodeMessage[] = "Error, couldn't decode attached data\\.";

std::wstring test_dir(const std::wstring& name) { return temp_dir() + L"\\quorin-tests\\staging\\" + name; }

// text as a death test pattern that matches it literally.
std::string literally(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::string("\\.^$*+?()[]{}|").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// The entries before the damaged one, and the damaged data for data\f.bin.
struct Damaged {
  const char* what;
  std::string attached;
  bool first_entry;  // the damaged entry is the child program
};

std::vector<Damaged> damaged_archives() {
  const std::string data = pattern(100000, 3);
  const std::string sound = archive_bytes({{u"app.exe", "first", {}}, {u"data\\f.bin", data, {}}});
  return {
      {"stored checksum of other data",
       attached_archive({{u"app.exe", "first", {}}, {u"data\\f.bin", data, checksum_of("other")}}), false},
      {"stored checksum 0, outside the format", attached_archive({{u"app.exe", "first", {}}, {u"data\\f.bin", data, 0}}),
       false},
      {"one bit flipped in the data", [&] {
         std::string flipped = sound;
         flipped[flipped.size() - 5000] ^= 0x10;
         return attached_of(frame_of(raw_blocks(flipped)));
       }(), false},
      {"the frame ends inside the data", attached_of(frame_of(raw_blocks(sound.substr(0, sound.size() - 40000)))), false},
      {"the child program's own data", attached_archive({{u"data\\f.bin", data, checksum_of("other")}}), true},
  };
}

TEST(Verification, DamagedDataNeverTakesTheFilesNameAndLeavesNoTemporary) {
  int index = 0;
  for (const Damaged& damaged : damaged_archives()) {
    for (const bool old_file : {false, true}) {
      const std::wstring target = test_dir(L"damaged\\" + std::to_wstring(index++));
      remove_tree(target);
      if (old_file) {
        make_folders(target + L"\\data");
        write_file(target + L"\\data\\f.bin", "what was there");
      }
      EXPECT_EXIT(unpack_and_exit(target, damaged.attached), ::testing::ExitedWithCode(2), kDecodeMessage)
          << damaged.what;
      EXPECT_EQ(read_file(target + L"\\data\\f.bin"), old_file ? "what was there" : "<missing>") << damaged.what;
      EXPECT_EQ(read_file(target + L"\\app.exe"), damaged.first_entry ? "<missing>" : "first") << damaged.what;
      EXPECT_TRUE(temporaries_in(target).empty()) << damaged.what;
      remove_tree(target);
    }
  }
}

// A stale file held open by a reader while a start replaces it.
struct Held {
  const char* what;
  DWORD share;                   // the reader's share mode
  unsigned long release_after;   // ms until the reader lets go; 0: never
  bool placed;                   // the start succeeds
};

const Held kHeld[] = {
    {"reader sharing read and delete", FILE_SHARE_READ | FILE_SHARE_DELETE, 0, true},
    {"reader sharing read, gone after 300 ms", FILE_SHARE_READ, 300, true},
    {"reader sharing nothing, gone after 300 ms", 0, 300, true},
    {"reader sharing read, never gone", FILE_SHARE_READ, 0, false},
};

std::string archive_of_new_data() {
  return attached_archive({{u"app.exe", "first", {}}, {u"data\\held.txt", "new data", {}}});
}

HANDLE hold(const std::wstring& path, DWORD share) {
  return CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(Staging, StaleFileHeldByAReaderIsReplacedOrReportedAfterTheRetry) {
  int index = 0;
  for (const Held& held : kHeld) {
    const std::wstring target = test_dir(L"held\\" + std::to_wstring(index++));
    const std::wstring file = target + L"\\data\\held.txt";
    remove_tree(target);
    make_folders(target + L"\\data");
    write_file(file, "stale");
    HANDLE reader = hold(file, held.share);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << held.what;
    if (held.placed) {
      std::thread release;
      if (held.release_after != 0) {
        release = std::thread([&] {
          Sleep(held.release_after);
          CloseHandle(reader);
        });
      }
      unpack_into(target, archive_of_new_data());
      if (release.joinable()) {
        release.join();
      } else {
        CloseHandle(reader);
      }
      EXPECT_EQ(read_file(file), "new data") << held.what;
    } else {
      const auto start = std::chrono::steady_clock::now();
      // The message names the file, never a temporary one.
      EXPECT_EXIT(unpack_and_exit(target, archive_of_new_data()), ::testing::ExitedWithCode(2),
                  literally("Error, failed to open '" + narrow(target) + "\\data\\held.txt' for writing.\n"))
          << held.what;
      const auto waited = std::chrono::steady_clock::now() - start;
      EXPECT_GE(waited, std::chrono::milliseconds(quorin::payload::kPlaceRetryMilliseconds)) << held.what;
      CloseHandle(reader);
      EXPECT_EQ(read_file(file), "stale") << held.what;
    }
    EXPECT_TRUE(temporaries_in(target).empty()) << held.what;
    remove_tree(target);
  }
}

// Files are placed by other threads while the next ones are written: of the
// files that cannot take their names (a folder is in the way), the first in
// the archive's order is the one reported, and no temporary file stays.
TEST(Staging, FirstFileThatCannotBePlacedIsReportedWhileOthersAreWritten) {
  const struct {
    const char* what;
    std::vector<int> folders_in_the_way;
  } cases[] = {{"one", {20}}, {"two: the first in the archive's order is named", {5, 30}}};
  int index = 0;
  for (const auto& c : cases) {
    const std::wstring target = test_dir(L"in_the_way\\" + std::to_wstring(index++));
    remove_tree(target);
    std::vector<std::wstring> names = {L"app.exe"};
    for (int i = 0; i < 40; ++i) names.push_back(L"data\\f" + std::to_wstring(100 + i));
    std::vector<ArchiveEntry> entries;
    for (std::size_t i = 0; i < names.size(); ++i) {
      entries.push_back({std::u16string(names[i].begin(), names[i].end()), pattern(20000, static_cast<int>(i)), {}});
    }
    for (const int i : c.folders_in_the_way) make_folders(target + L"\\" + names[i]);
    const std::wstring first = target + L"\\" + names[c.folders_in_the_way.front()];
    EXPECT_EXIT(unpack_and_exit(target, attached_archive(entries)), ::testing::ExitedWithCode(2),
                literally("Error, failed to open '" + narrow(first) + "' for writing.\n"))
        << c.what;
    for (const int i : c.folders_in_the_way) {
      EXPECT_TRUE(directory_exists(target + L"\\" + names[i])) << c.what;
    }
    EXPECT_TRUE(temporaries_in(target).empty()) << c.what;
    remove_tree(target);
  }
}

TEST(Staging, ReadOnlyStaleFileIsReplacedAndItsOldCopyRemoved) {
  const std::wstring target = test_dir(L"read-only");
  const std::wstring file = target + L"\\data\\held.txt";
  remove_tree(target);
  make_folders(target + L"\\data");
  write_file(file, "stale");
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  unpack_into(target, archive_of_new_data());
  EXPECT_EQ(read_file(file), "new data");
  EXPECT_TRUE(temporaries_in(target).empty());
  remove_tree(target);
}

// A process that runs until the test ends it.
struct Sleeper {
  PROCESS_INFORMATION process = {};
  Sleeper() {
    std::wstring line = quoted(fixture_path(L"trees\\child\\app.exe"));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", L"60000");
    SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", L"NUL");
    CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"QUORIN_PROBE_SLEEP_MS", nullptr);
    SetEnvironmentVariableW(L"QUORIN_PROBE_REPORT", nullptr);
  }
  ~Sleeper() {
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
};

TEST(Staging, TemporariesOfEndedRunsGoWhenAFileIsWrittenBesideThemAndNothingElseIsTouched) {
  const std::wstring target = test_dir(L"sweep");
  const std::wstring data = target + L"\\data";
  remove_tree(target);
  make_folders(data);
  const std::wstring ended = std::to_wstring(run_process(quoted(fixture_path(L"trees\\child\\app.exe"))).pid);
  Sleeper sleeper;
  ASSERT_NE(sleeper.process.dwProcessId, 0u);
  const std::wstring running = std::to_wstring(sleeper.process.dwProcessId);
  const std::wstring own = std::to_wstring(GetCurrentProcessId());
  const struct {
    std::wstring name;
    bool old_time;  // last written long before the running process started
    bool removed;
  } files[] = {
      {L"~quorin-" + ended + L"-1.tmp", false, true},
      {L"~QUORIN-" + ended + L"-2.TMP", false, true},
      {L"~quorin-" + own + L"-1.tmp", true, true},    // an earlier process with our number
      {L"~quorin-" + own + L"-2.tmp", false, false},  // this run's: another thread may be placing it
      {L"~quorin-" + running + L"-1.tmp", false, false},
      {L"~quorin-" + running + L"-2.tmp", true, true},  // its number was another's before
      {L"~quorin-99999999999-1.tmp", false, false},       // no number this launcher makes
      {L"~quorin-" + ended + L"-x.tmp", false, false},
      {L"~quorin-" + ended + L"-1.tmp.txt", false, false},
      {L"quorin-" + ended + L"-1.tmp", false, false},
  };
  for (const auto& file : files) {
    write_file(data + L"\\" + file.name, "left behind");
    if (file.old_time) set_write_times(data + L"\\" + file.name, kOldFileTime);
  }
  const std::wstring folder_of_that_form = data + L"\\~quorin-" + ended + L"-3.tmp";
  CreateDirectoryW(folder_of_that_form.c_str(), nullptr);

  unpack_into(target, attached_archive({{u"app.exe", "first", {}}, {u"data\\f.txt", "written", {}}}));
  EXPECT_EQ(read_file(data + L"\\f.txt"), "written");
  for (const auto& file : files) {
    EXPECT_EQ(file_exists(data + L"\\" + file.name), !file.removed) << narrow(file.name);
  }
  EXPECT_TRUE(directory_exists(folder_of_that_form));
  remove_tree(target);
}

// Folders under every temporary name this process tries first (its own
// number, serials 1 to QUORIN_PLANTED, default 512: four were all it tried
// once, so such folders stopped every repair there), planted before it writes.
void plant_folders_and_unpack(const std::wstring& target, const std::string& attached) {
  const std::wstring prefix = target + L"\\~quorin-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  const int planted = count_from_env("QUORIN_PLANTED", 512);
  for (int serial = 1; serial <= planted; ++serial) {
    CreateDirectoryW((prefix + std::to_wstring(serial) + L".tmp").c_str(), nullptr);
  }
  unpack_and_exit(target, attached);
}

TEST(Staging, TemporaryNamesTakenByFoldersAreSkipped) {
  const std::wstring target = test_dir(L"planted-folders");
  remove_tree(target);
  make_folders(target);
  EXPECT_EXIT(plant_folders_and_unpack(target, attached_archive({{u"app.exe", "first", {}}, {u"f.txt", "placed", {}}})),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(read_file(target + L"\\f.txt"), "placed");
  EXPECT_EQ(read_file(target + L"\\app.exe"), "first");
  remove_tree(target);
}

// --- Links inside the target directory -----------------------------------------

struct LinkLayout {
  std::wstring root;  // empty: no folder link can be made here
  bool file_link;
};

// root\user-data holds the user's files (keep.txt, file.txt and a temporary
// of a killed run); root\target\data is a link to it, root\moved-target a
// link to root\real-target, root\file-target\file.txt a link to
// user-data\file.txt. Under Wine they are planted from the Unix side
// (tests/scripts/plant_links.sh, QUORIN_UNIX_LINKS); elsewhere made here.
LinkLayout link_layout() {
  char unix_root[1024];
  const DWORD n = GetEnvironmentVariableA("QUORIN_UNIX_LINKS", unix_root, sizeof unix_root);
  if (n > 0 && n < sizeof unix_root) {
    // Wine's drive Z: is the Unix root.
    std::wstring root = L"Z:";
    for (DWORD i = 0; i < n; ++i) root += unix_root[i] == '/' ? L'\\' : static_cast<wchar_t>(unix_root[i]);
    return {root, true};
  }
  const std::wstring root = test_dir(L"links");
  remove_tree(root);
  for (const wchar_t* folder : {L"\\user-data", L"\\target", L"\\real-target", L"\\file-target"}) {
    make_folders(root + folder);
  }
  write_file(root + L"\\user-data\\keep.txt", "kept");
  write_file(root + L"\\user-data\\~quorin-1-1.tmp", "left by a killed run");
  set_write_times(root + L"\\user-data\\~quorin-1-1.tmp", kOldFileTime);
  write_file(root + L"\\user-data\\file.txt", "the user's own");
  if (!make_link(root + L"\\target\\data", root + L"\\user-data", true) ||
      !make_link(root + L"\\moved-target", root + L"\\real-target", true)) {
    return {L"", false};
  }
  return {root, make_link(root + L"\\file-target\\file.txt", root + L"\\user-data\\file.txt", false)};
}

// A link planted inside the target directory (target\data to the user's
// folder) is not followed: the start stops naming the file, and nothing is
// made, written or deleted where the link points, even below it.
TEST(Links, FolderLinkInsideTheTargetIsNotFollowed) {
  const LinkLayout layout = link_layout();
  if (layout.root.empty()) GTEST_SKIP() << "no folder link can be made here";
  const std::wstring target = layout.root + L"\\target";
  // Names only: where the system lets the test make links, the death test's
  // own process makes the layout afresh.
  const auto user_files = [&] {
    std::vector<std::wstring> names;
    for (const auto& [name, item] : snapshot_tree(layout.root + L"\\user-data")) names.push_back(name);
    return names;
  };
  const std::vector<std::wstring> planted = {L"file.txt", L"keep.txt", L"~quorin-1-1.tmp"};
  ASSERT_EQ(user_files(), planted);
  for (const std::u16string name : {u"data\\new.txt", u"data\\sub\\deep.txt"}) {
    const std::wstring file = target + L"\\" + std::wstring(name.begin(), name.end());
    EXPECT_EXIT(unpack_and_exit(target, attached_archive({{u"app.exe", "first", {}}, {name, "new", {}}})),
                ::testing::ExitedWithCode(2), literally("Error, failed to open '" + narrow(file) + "' for writing.\n"))
        << narrow(file);
    EXPECT_EQ(user_files(), planted) << narrow(file);
  }
}

// The target directory itself may be a link: users move a cache that way.
TEST(Links, TargetDirectoryThatIsALinkIsFollowed) {
  const LinkLayout layout = link_layout();
  if (layout.root.empty()) GTEST_SKIP() << "no folder link can be made here";
  unpack_into(layout.root + L"\\moved-target",
              attached_archive({{u"app.exe", "first", {}}, {u"data\\f.txt", "placed", {}}}));
  EXPECT_EQ(read_file(layout.root + L"\\real-target\\data\\f.txt"), "placed");
}

// A file that is a link is replaced by the file placed over it, never
// written through: the rename replaces the link itself.
TEST(Links, FileLinkIsReplacedNotWrittenThrough) {
  const LinkLayout layout = link_layout();
  if (!layout.file_link) GTEST_SKIP() << "no file link can be made here";
  const std::wstring target = layout.root + L"\\file-target";
  unpack_into(target, attached_archive({{u"app.exe", "first", {}}, {u"file.txt", "placed", {}}}));
  EXPECT_EQ(read_file(target + L"\\file.txt"), "placed");
  EXPECT_EQ(read_file(layout.root + L"\\user-data\\file.txt"), "the user's own");
}

}  // namespace
