// The packer built for Windows, run as a Windows user runs it: it packs a
// folder named with Windows paths into the same bytes as the Linux packer
// (the fixture launchers), the launcher it writes runs, and it reads one back;
// it refuses a program whose DLLs are not packed, whose launcher runs once
// they are.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/windows/support/child_support.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

// build\windows\<relative>, beside this program's folder.
std::wstring windows_build_path(const std::wstring& relative) {
  std::wstring path = own_module_path();
  path = path.substr(0, path.rfind(L'\\'));
  return path.substr(0, path.rfind(L'\\')) + L"\\" + relative;
}

std::wstring windows_packer() { return windows_build_path(L"bin\\quorin-pack.exe"); }

ProcessResult pack(const std::wstring& arguments) { return run_process(quoted(windows_packer()) + L" " + arguments); }

TEST(PackerForWindows, PacksTheSameBytesAsTheLinuxPackerAndTheLauncherRuns) {
  const std::wstring out = temp_dir() + L"\\quorin-tests\\windows packer";
  remove_tree(out);
  CreateDirectoryW((temp_dir() + L"\\quorin-tests").c_str(), nullptr);
  CreateDirectoryW(out.c_str(), nullptr);
  // The tree holds names beyond ASCII and an emoji: they pass through UTF-16
  // paths on this side. The output's name gives the resource texts: the
  // fixture's own.
  const ProcessResult build = pack(L"build --quiet --input " + quoted(fixture_path(L"trees\\payload_tree")) +
                                   L" --child app.exe --spec {TEMP}\\quorin-tests\\payload_tree --output " +
                                   quoted(out + L"\\payload_tree.exe"));
  ASSERT_EQ(build.exit_code, 0u) << build.err;
  EXPECT_TRUE(read_file(out + L"\\payload_tree.exe") == read_file(launcher_path(L"payload_tree")));

  const ProcessResult run = run_process(quoted(out + L"\\payload_tree.exe") + L" from-windows");
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(report_value(run.out, "argv[1]"), "from-windows");

  const ProcessResult verify = pack(L"verify " + quoted(out + L"\\payload_tree.exe"));
  EXPECT_EQ(verify.exit_code, 0u) << verify.out;
  const ProcessResult missing = pack(L"build --input " + quoted(out + L"\\none") + L" --child app.exe --output " +
                                     quoted(out + L"\\x.exe"));
  EXPECT_EQ(missing.exit_code, 1u);
  EXPECT_NE(missing.err.find("not a folder"), std::string::npos) << missing.err;
  remove_tree(out);
}

// The mingw program linked against its own DLL and the mingw runtime's: the
// build names what is missing; with every DLL beside it, the launcher's
// child finds them all in the folder it is unpacked into.
TEST(PackerForWindows, RefusesAProgramWithoutItsDllsAndItsLauncherRunsWithThem) {
  const std::wstring linked = windows_build_path(L"programs\\linked\\");
  const std::wstring out = temp_dir() + L"\\quorin-tests\\linked packer";
  remove_tree(out);
  CreateDirectoryW((temp_dir() + L"\\quorin-tests").c_str(), nullptr);
  CreateDirectoryW(out.c_str(), nullptr);
  CreateDirectoryW((out + L"\\app").c_str(), nullptr);
  const auto add = [&](const std::wstring& from) {
    const std::wstring name = from.substr(from.rfind(L'\\') + 1);
    ASSERT_TRUE(CopyFileW((linked + from).c_str(), (out + L"\\app\\" + name).c_str(), FALSE)) << narrow(from);
  };
  const std::wstring build = L"build --quiet --input " + quoted(out + L"\\app") +
                             L" --child linked_child.exe --spec {TEMP}\\quorin-tests\\linked --output " +
                             quoted(out + L"\\linked.exe");
  add(L"linked_child.exe");
  add(L"linked_store.dll");
  const ProcessResult refused = pack(build);
  EXPECT_EQ(refused.exit_code, 1u) << refused.err;
  EXPECT_NE(refused.err.find("quorin-pack: linked_child.exe imports libstdc++-6.dll, which is neither in the input "
                             "folder nor part of Windows"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.err.find("linked_store.dll,"), std::string::npos) << refused.err;
  EXPECT_FALSE(file_exists(out + L"\\linked.exe"));

  for (const wchar_t* dll : {L"libstdc++-6.dll", L"libgcc_s_seh-1.dll", L"libwinpthread-1.dll"}) {
    add(std::wstring(L"runtime\\") + dll);
  }
  const ProcessResult built = pack(build);
  ASSERT_EQ(built.exit_code, 0u) << built.err;
  const ProcessResult run = run_process(quoted(out + L"\\linked.exe"));
  EXPECT_EQ(run.exit_code, 42u) << run.err;
  EXPECT_EQ(run.out, "answer 42\n");
  remove_tree(out);
  remove_tree(temp_dir() + L"\\quorin-tests\\linked");
}

}  // namespace
