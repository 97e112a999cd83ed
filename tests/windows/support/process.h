// Test support: starting a program and collecting what it wrote and its full
// 32-bit exit code, from Windows code; and the paths of the test fixtures.
#pragma once

#include <string>
#include <vector>

namespace quorin::testing {

struct ProcessResult {
  unsigned long exit_code = 0;
  unsigned long pid = 0;
  // Standard output and error with the C runtime's text-mode line ends
  // ("\r\n") read as one newline each, and as they came.
  std::string out;
  std::string err;
  std::string raw_out;
  std::string raw_err;
};

struct ProcessOptions {
  std::vector<std::pair<std::wstring, std::wstring>> env;  // set (empty value: removed)
  std::wstring current_directory;                          // empty: the test's own
  unsigned long timeout_ms = 120000;
  unsigned long creation_flags = 0;  // CreateProcessW's (CREATE_NEW_CONSOLE, ...)
};

// Runs the command line (application name taken from it) with pipes for its
// standard output and error; waits for it and returns its exit code.
ProcessResult run_process(const std::wstring& command_line, const ProcessOptions& options = {});

// A fixture path: QUORIN_FIXTURES (a Unix path under Wine's Z: drive) and the
// relative name, as a Windows path.
std::wstring fixture_path(const std::wstring& relative);

// The built launcher for a fixture: fixtures\launchers\<name>.exe
std::wstring launcher_path(const std::wstring& name);

// The system's temporary folder without its trailing backslash.
std::wstring temp_dir();

// The value of "key=" in a probe child's report, or "<absent>".
std::string report_value(const std::string& report, const std::string& key);

// Quotes a path for a command line when it holds blanks.
std::wstring quoted(const std::wstring& path);

std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

// File helpers for checking what a launcher left on disk.
bool file_exists(const std::wstring& path);
bool directory_exists(const std::wstring& path);
std::string read_file(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& bytes);
// Removes a directory tree; fine when it does not exist. A link inside it is
// removed, never what it points to.
void remove_tree(const std::wstring& path);
// Makes link a symbolic link to the folder or file at to, where a user may
// make one (developer mode), else, for a folder, a junction. True only when
// the link is there as a reparse point afterwards: Wine 8.0 makes neither,
// whatever its calls answer.
bool make_link(const std::wstring& link, const std::wstring& to, bool folder);
// The user's local application-data folder (CSIDL_LOCAL_APPDATA).
std::wstring local_app_data();

}  // namespace quorin::testing
