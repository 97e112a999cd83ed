// The archive's index in a launcher: a start that finds every file current
// reads no frame; a name changed inside the frame is refused before its file
// is written; a damaged index is no index, and the start decodes and repairs
// as without one. The launcher's archive is in raw blocks, so its names and
// data stand in the exe as they are. Talks to the system (processes, files).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/windows/support/payload.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

const std::wstring kTarget = temp_dir() + L"\\quorin-tests\\payload_indexed";
const std::string kDecodeLine = "Error, couldn't decode attached data.\n";
// "lib\core.dll" in UTF-16LE: its first place in the exe is the frame's, its
// second the index's.
const std::string kName("l\0i\0b\0\\\0c\0o\0r\0e\0.\0d\0l\0l\0", 24);

// The fixture launcher with one byte changed by a flip mask, as a copy
// beside it (the same baked target): at offset from the given occurrence of
// what, counted from the start, or from the end when occurrence is kLast
// (the launcher's own code holds "QZIX" too; its index is the last).
constexpr std::size_t kLast = ~std::size_t{0};
std::wstring changed_copy(const std::string& what, std::size_t occurrence, std::size_t offset, unsigned char mask) {
  std::string exe = read_file(launcher_path(L"payload_indexed"));
  std::size_t at = occurrence == kLast ? exe.rfind(what) : std::string::npos;
  for (std::size_t i = 0; occurrence != kLast && i <= occurrence; ++i) {
    at = exe.find(what, at == std::string::npos ? 0 : at + 1);
  }
  EXPECT_NE(at, std::string::npos);
  exe.at(at + offset) = static_cast<char>(exe.at(at + offset) ^ mask);
  const std::wstring copy = temp_dir() + L"\\quorin-tests\\payload_indexed_changed.exe";
  write_file(copy, exe);
  return copy;
}

ProcessResult start(const std::wstring& exe) { return run_process(quoted(exe)); }

TEST(PayloadIndex, SecondStartReadsNoFrame) {
  remove_tree(kTarget);
  ProcessResult run = start(launcher_path(L"payload_indexed"));
  ASSERT_EQ(run.exit_code, 0u) << run.out << run.err;
  // The data of lib\core.dll damaged inside the frame: every file is current,
  // so the frame is never decoded and the damage never met.
  const std::wstring damaged = changed_copy("core library", 0, 0, 0x01);
  run = start(damaged);
  EXPECT_EQ(run.exit_code, 0u) << run.out << run.err;
  // With the file gone, the frame is decoded and the damage stops the start.
  DeleteFileW((kTarget + L"\\lib\\core.dll").c_str());
  run = start(damaged);
  EXPECT_EQ(run.exit_code, 2u);
  EXPECT_EQ(run.out, kDecodeLine);
  EXPECT_FALSE(file_exists(kTarget + L"\\lib\\core.dll"));
  remove_tree(kTarget);
}

TEST(PayloadIndex, NameChangedInsideTheFrameIsRefusedBeforeItsFileIsWritten) {
  remove_tree(kTarget);
  // "core" -> "cord": one bit of the name's fourth letter, in the frame.
  const ProcessResult run = start(changed_copy(kName, 0, 14, 0x01));
  EXPECT_EQ(run.exit_code, 2u);
  EXPECT_EQ(run.out, kDecodeLine);
  EXPECT_TRUE(file_exists(kTarget + L"\\app.exe"));
  EXPECT_FALSE(file_exists(kTarget + L"\\lib\\cord.dll"));
  EXPECT_FALSE(file_exists(kTarget + L"\\lib\\core.dll"));
  EXPECT_TRUE(temporaries_in(kTarget).empty());
  remove_tree(kTarget);
}

TEST(PayloadIndex, DamagedIndexIsNoIndexAndTheStartRepairs) {
  const struct {
    const char* what;
    std::string bytes;
    std::size_t occurrence;
    std::size_t offset;
  } damages[] = {
      {"its magic", "QZIX", kLast, 0},
      {"a name in it", kName, kLast, 14},
      {"its version", "QZIX", kLast, 4},
  };
  for (const auto& damage : damages) {
    const std::wstring exe = changed_copy(damage.bytes, damage.occurrence, damage.offset, 0x01);
    remove_tree(kTarget);
    ProcessResult run = start(exe);
    EXPECT_EQ(run.exit_code, 0u) << damage.what << ": " << run.out << run.err;
    EXPECT_EQ(read_file(kTarget + L"\\lib\\core.dll"), "core library\n") << damage.what;
    write_file(kTarget + L"\\lib\\core.dll", "changed");
    run = start(exe);
    EXPECT_EQ(run.exit_code, 0u) << damage.what << ": " << run.out << run.err;
    EXPECT_EQ(read_file(kTarget + L"\\lib\\core.dll"), "core library\n") << damage.what;
  }
  remove_tree(kTarget);
}

}  // namespace
