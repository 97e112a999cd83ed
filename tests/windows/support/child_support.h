// Test support for the child process tests: argument lists (generated and
// read back from a probe's report), splitting with the system, and replacing
// an import of the test program (GetCommandLineW, GetModuleFileNameW). Talks
// to the system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorin::testing {

using ArgumentList = std::vector<std::wstring>;

// Argument lists made to stress the quoting: blanks, tabs, line feeds,
// vertical tabs, runs of double quotes, runs of backslashes before quotes and
// at the end, non-ASCII units (a surrogate pair among them), empty arguments.
// The same seed gives the same lists.
std::vector<ArgumentList> generated_argument_lists(std::size_t count, std::uint32_t seed);

// args joined by the launcher's own quoting (join_command_line), into a buffer
// large enough for any test line.
std::wstring joined(const ArgumentList& args);

// The line split by CommandLineToArgvW.
ArgumentList split_with_system(const std::wstring& command_line);

// The arguments a probe child reported, from its "argv[i].hex" lines.
ArgumentList reported_arguments(const std::string& report);

// This test program's own path, as GetModuleFileNameW reports it.
std::wstring own_module_path();

// Makes every call of this program to the imported function go to
// replacement; returns the function called before (nullptr when the program
// does not import it). The launcher library is linked into the test program,
// so its calls are redirected too.
void* replace_import(const char* function, void* replacement);

// For the duration of a scope: GetCommandLineW returns the given line.
struct FakeCommandLine {
  explicit FakeCommandLine(const std::wstring& line);
  ~FakeCommandLine();
  FakeCommandLine(const FakeCommandLine&) = delete;
  FakeCommandLine& operator=(const FakeCommandLine&) = delete;
  void* previous;
};

// For the duration of a scope: GetModuleFileNameW calls are counted.
struct CountModuleFileNameCalls {
  CountModuleFileNameCalls();
  ~CountModuleFileNameCalls();
  CountModuleFileNameCalls(const CountModuleFileNameCalls&) = delete;
  CountModuleFileNameCalls& operator=(const CountModuleFileNameCalls&) = delete;
  int calls() const;
  void* previous;
};

// For the life of the object: CloseHandle calls on process handles are
// counted by the process's id.
struct CountProcessHandleCloses {
  CountProcessHandleCloses();
  ~CountProcessHandleCloses();
  CountProcessHandleCloses(const CountProcessHandleCloses&) = delete;
  CountProcessHandleCloses& operator=(const CountProcessHandleCloses&) = delete;
  int closes_of(unsigned long pid) const;
  void* previous;
};

}  // namespace quorin::testing
