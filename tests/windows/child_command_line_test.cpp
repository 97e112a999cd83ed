// The child's command line: the quoting of single arguments, round trips
// through the real builder against CommandLineToArgvW and against a real
// child's C runtime, the 32,767-character limit, and the module path asked once.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "child/command_line.h"
#include "child/quote.h"
#include "errors/fatal.h"
#include "tests/windows/support/child_support.h"
#include "tests/windows/support/process.h"

namespace {

using namespace quorin;
using namespace quorin::testing;

std::wstring quoted_argument(const std::wstring& arg) {
  wchar_t text[256] = L"";
  std::size_t len = 0;
  child::append_quoted_argument(text, 256, len, arg.c_str());
  EXPECT_EQ(len, std::wcslen(text));
  return text;
}

// The text the builder gives for argument 0: the module path, quoted when needed.
std::wstring written_module_path() { return quoted_argument(own_module_path()); }

std::wstring build_from(const std::wstring& command_line) {
  FakeCommandLine fake(command_line);
  return child::build_child_command_line();
}

TEST(ChildCommandLine, NoArgumentsGivesTheModulePathAlone) {
  EXPECT_EQ(build_from(L"whatever.exe"), written_module_path());
  EXPECT_EQ(build_from(L"\"C:\\some where\\launcher.exe\""), written_module_path());
}

TEST(ChildCommandLine, ArgumentZeroIsReplacedByTheModulePath) {
  const std::wstring line = build_from(L"..\\relative\\launcher.exe one \"two words\"");
  EXPECT_EQ(line, written_module_path() + L" one \"two words\"");
  EXPECT_EQ(split_with_system(line), (ArgumentList{own_module_path(), L"one", L"two words"}));
}

TEST(ChildCommandLine, GeneratedListsRoundTripThroughTheBuilderAndCommandLineToArgvW) {
  const std::vector<ArgumentList> lists = generated_argument_lists(3000, 20260923);
  for (const ArgumentList& args : lists) {
    ArgumentList caller = {L"launcher.exe"};
    caller.insert(caller.end(), args.begin(), args.end());
    const std::wstring line = build_from(joined(caller));
    ArgumentList expected = {own_module_path()};
    expected.insert(expected.end(), args.begin(), args.end());
    ASSERT_EQ(split_with_system(line), expected) << narrow(line);
  }
}

// The C runtime of a real child (the probe, a wmain program) reads the line.
TEST(ChildCommandLine, GeneratedListsRoundTripThroughAChildsRuntime) {
  const std::wstring probe = fixture_path(L"trees\\child\\app.exe");
  std::vector<ArgumentList> lists = generated_argument_lists(40, 7);
  lists.push_back({L"", L"", L""});
  lists.push_back({L"\\\\\"\"\\", L"a b\\\\", L"\"\"\"", L"\t\n\v"});
  for (const ArgumentList& args : lists) {
    ArgumentList expected = {probe};
    expected.insert(expected.end(), args.begin(), args.end());
    const std::wstring line = joined(expected);
    const ProcessResult run = run_process(line);
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(reported_arguments(run.out), expected) << narrow(line);
    // The report is one line per key: only a line without line feeds shows whole.
    if (line.find(L'\n') == std::wstring::npos) {
      EXPECT_EQ(report_value(run.out, "cmdline"), narrow(line));
    }
  }
}

TEST(ChildCommandLine, SecondBuildGivesTheSameTextWithoutAskingForTheModulePathAgain) {
  // In a fresh process, so that the first build is the first of all. The exit
  // code tells how often each build asked: 10 is once for the first, none for the second.
  const std::wstring expected = written_module_path() + L" x \"y z\"";
  EXPECT_EXIT(
      {
        CountModuleFileNameCalls counter;
        const std::wstring first = build_from(L"a.exe x \"y z\"");
        const int first_asked = counter.calls();
        const std::wstring second = build_from(L"a.exe x \"y z\"");
        const int second_asked = counter.calls() - first_asked;
        std::exit(first == expected && second == expected ? 10 * first_asked + second_asked : 99);
      },
      ::testing::ExitedWithCode(10), "");
}

// GetModuleFileNameW as Windows XP answered a path that did not fit: the
// buffer filled to its end, no terminator, the capacity returned.
DWORD WINAPI module_path_without_terminator(HMODULE, LPWSTR path, DWORD cap) {
  for (DWORD i = 0; i < cap; ++i) path[i] = L'a';
  return cap;
}

DWORD WINAPI module_path_query_fails(HMODULE, LPWSTR, DWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return 0;
}

TEST(ChildCommandLine, ModulePathQueryFailureIsAHardStop) {
  EXPECT_EXIT(
      {
        replace_import("GetModuleFileNameW", reinterpret_cast<void*>(&module_path_query_fails));
        build_from(L"a.exe x");
      },
      ::testing::ExitedWithCode(errors::kHardStopExitCode), "");
}

// The path is checked for its terminator before it is read, never read past
// the end of its buffer.
TEST(ChildCommandLine, ModulePathWithoutTerminatorIsAHardStop) {
  EXPECT_EXIT(
      {
        replace_import("GetModuleFileNameW", reinterpret_cast<void*>(&module_path_without_terminator));
        build_from(L"a.exe x");
      },
      ::testing::ExitedWithCode(errors::kHardStopExitCode), "");
}

// Caller line whose rebuilt text has exactly `length` characters: argument 0
// is the module path, then one argument of blanks, letters and trailing
// backslashes, so that quotes and doubled backslashes count too.
std::wstring caller_line_of_length(std::size_t length) {
  const std::size_t fixed = written_module_path().size() + 1 + 2 + 1 + 2 * 3;  // blank, quotes, " ", 3 doubled
  std::wstring arg = L" " + std::wstring(length - fixed, L'a') + L"\\\\\\";
  return joined({L"launcher.exe", arg});
}

TEST(ChildCommandLine, LimitIs32767CharactersWithQuotesAndEscapesCounted) {
  for (const std::size_t length : {std::size_t{32766}, std::size_t{32767}}) {
    const std::wstring line = build_from(caller_line_of_length(length));
    EXPECT_EQ(line.size(), length);
    EXPECT_EQ(line.substr(line.size() - 8), L"a\\\\\\\\\\\\\"");
  }
  EXPECT_EXIT(build_from(caller_line_of_length(32768)), ::testing::ExitedWithCode(errors::kHardStopExitCode), "");
}

TEST(ChildCommandLine, LimitCountsTheSeparatingBlanks) {
  // Plain arguments of one letter: each costs itself and its blank.
  const std::size_t room = 32767 - written_module_path().size();
  ArgumentList at_limit = {L"launcher.exe"};
  at_limit.insert(at_limit.end(), room / 2, L"a");
  if (room % 2 != 0) at_limit.back() = L"aa";
  EXPECT_EQ(build_from(joined(at_limit)).size(), 32767u);
  at_limit.back() += L"a";
  EXPECT_EXIT(build_from(joined(at_limit)), ::testing::ExitedWithCode(errors::kHardStopExitCode), "");
}

}  // namespace
