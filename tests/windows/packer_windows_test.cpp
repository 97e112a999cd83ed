// The packer built for Windows, run as a Windows user runs it: it packs a
// folder named with Windows paths into the same bytes as the Linux packer
// (the fixture launchers), the launcher it writes runs, and it reads one back.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/windows/support/child_support.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin::testing;

// build\windows\bin\quorin-pack.exe, beside this program's folder.
std::wstring windows_packer() {
  std::wstring path = own_module_path();
  path = path.substr(0, path.rfind(L'\\'));
  return path.substr(0, path.rfind(L'\\')) + L"\\bin\\quorin-pack.exe";
}

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

}  // namespace
