// The packer's system layer on Windows: files, paths, the console and the
// interrupt handler. Talks to the system; paths and the command line are
// UTF-16 there, and become UTF-8 at this border.
#include "packer/platform.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "packer/utf16.h"

namespace quorin::packer {

namespace {

std::wstring wide(const std::string& text) {
  const std::u16string units = utf8_to_utf16(text).value_or(u"");
  return std::wstring(units.begin(), units.end());
}

std::string windows_error_text(DWORD code) {
  char* text = nullptr;
  const DWORD written = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = written != 0 && text != nullptr ? text : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out;
}

}  // namespace

MappedFile::~MappedFile() {
  if (data != nullptr) UnmapViewOfFile(data);
  if (handle != nullptr) CloseHandle(handle);
}

Result map_whole_file(const std::filesystem::path& path, MappedFile& file) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail("'" + path_text(path) + "': " + windows_error_text(GetLastError()));
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    return fail("'" + path_text(path) + "': " + windows_error_text(error));
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    CloseHandle(handle);
    return fail("'" + path_text(path) + "': not a file");
  }
  file.size = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  if (file.size > 0) {
    HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const DWORD error = GetLastError();
    if (mapping == nullptr) {
      CloseHandle(handle);
      file.size = 0;
      return fail("'" + path_text(path) + "': " + windows_error_text(error));
    }
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
      const DWORD view_error = GetLastError();
      CloseHandle(mapping);
      CloseHandle(handle);
      file.size = 0;
      return fail("'" + path_text(path) + "': " + windows_error_text(view_error));
    }
    file.data = static_cast<const unsigned char*>(view);
    file.handle = mapping;
  }
  // The view keeps the file open; its handle is not needed.
  CloseHandle(handle);
  return ok();
}

std::string path_text(const std::filesystem::path& path) {
  const std::wstring& native = path.native();
  return utf16_to_utf8(std::u16string(native.begin(), native.end()));
}

std::filesystem::path path_from_text(const std::string& text) { return std::filesystem::path(wide(text)); }

std::FILE* open_file(const std::filesystem::path& path, const char* mode) {
  return _wfopen(path.c_str(), wide(mode).c_str());
}

bool seek_file(std::FILE* file, std::uint64_t offset) {
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
}

std::vector<std::string> program_arguments(int, char**) {
  // The narrow arguments are in the ANSI code page, which cannot hold every
  // name: take the wide command line instead.
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 1; args != nullptr && i < count; ++i) {
    const std::wstring arg = args[i];
    out.push_back(utf16_to_utf8(std::u16string(arg.begin(), arg.end())));
  }
  if (args != nullptr) LocalFree(args);
  return out;
}

bool progress_terminal() {
  if (!_isatty(_fileno(stderr))) return false;
  // The console draws the line in place once it reads escape sequences.
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

unsigned long process_id() { return GetCurrentProcessId(); }

bool process_running(unsigned long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  // ERROR_INVALID_PARAMETER is the answer for an id no process has; any other
  // refusal (ERROR_ACCESS_DENIED for a protected process) means it exists.
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  // A process that has ended lives on as an object while a handle to it is
  // open: it has ended when it is signalled.
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return !ended;
}

namespace {

SRWLOCK g_partial_lock = SRWLOCK_INIT;
std::wstring g_partial;
volatile LONG g_line_open = 0;

// Runs on a thread of its own; the main thread may be anywhere.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  AcquireSRWLockExclusive(&g_partial_lock);
  // The file was opened with delete sharing: it goes when the process ends.
  if (!g_partial.empty()) DeleteFileW(g_partial.c_str());
  if (g_line_open) std::fputs("\n", stderr);
  std::fputs("quorin-pack: interrupted\n", stderr);
  std::fflush(stderr);
  ExitProcess(130);
}

}  // namespace

bool watch_for_interrupts() { return SetConsoleCtrlHandler(on_console_event, TRUE) != 0; }

void remove_on_interrupt(const std::filesystem::path& partial) {
  AcquireSRWLockExclusive(&g_partial_lock);
  g_partial = partial.native();
  ReleaseSRWLockExclusive(&g_partial_lock);
}

void note_progress_line(bool open) { InterlockedExchange(&g_line_open, open ? 1 : 0); }

// Windows runs a program by its name, not by a mode: FileKind plays no part.
std::FILE* create_output_file(const std::filesystem::path& path, FileKind) {
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "w+b");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace quorin::packer
