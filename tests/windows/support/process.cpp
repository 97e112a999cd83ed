// Test support: processes, fixtures and files. Talks to the system.
#include "tests/windows/support/process.h"
#include "tests/windows/support/process_retry.h"

#include <windows.h>
#include <shlobj.h>
#include <winioctl.h>

#include <cstdlib>
#include <thread>

namespace quorin::testing {

namespace {

std::string text_mode_lines(const std::string& raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(raw[i]);
  }
  return out;
}

std::string drain(HANDLE pipe) {
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

}  // namespace

std::wstring widen(const std::string& text) {
  if (text.empty()) return L"";
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring quoted(const std::wstring& path) {
  return path.find(L' ') == std::wstring::npos ? path : L"\"" + path + L"\"";
}

ProcessResult run_process(const std::wstring& command_line, const ProcessOptions& options) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  CreatePipe(&out_read, &out_write, &inherit, 0);
  CreatePipe(&err_read, &err_write, &inherit, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

  // The environment is changed around the creation and put back after it.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : options.env) {
    wchar_t old_value[32768];
    const DWORD n = GetEnvironmentVariableW(name.c_str(), old_value, 32768);
    saved.emplace_back(name, n > 0 && n < 32768 ? std::wstring(old_value) : std::wstring());
    SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process = {};
  std::wstring mutable_line = command_line;
  const BOOL created = create_process_with_retries([&] {
    return CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, TRUE, options.creation_flags, nullptr,
                          options.current_directory.empty() ? nullptr : options.current_directory.c_str(), &startup,
                          &process);
  });
  const DWORD create_error = created ? ERROR_SUCCESS : GetLastError();
  for (const auto& [name, value] : saved) SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
  CloseHandle(out_write);
  CloseHandle(err_write);
  CloseHandle(null_in);

  ProcessResult result;
  if (!created) {
    result.exit_code = 0xFFFFFFFF;
    result.err = "CreateProcessW failed with " + std::to_string(create_error);
    CloseHandle(out_read);
    CloseHandle(err_read);
    return result;
  }
  std::string err_text;
  std::thread err_reader([&] { err_text = drain(err_read); });
  result.raw_out = drain(out_read);
  err_reader.join();
  if (WaitForSingleObject(process.hProcess, options.timeout_ms) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  result.pid = process.dwProcessId;
  result.exit_code = code;
  result.raw_err = err_text;
  result.out = text_mode_lines(result.raw_out);
  result.err = text_mode_lines(result.raw_err);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(out_read);
  CloseHandle(err_read);
  return result;
}

std::wstring fixture_path(const std::wstring& relative) {
  const char* root = std::getenv("QUORIN_FIXTURES");
  std::wstring path = L"Z:" + widen(root != nullptr ? root : "/nonexistent");
  for (wchar_t& unit : path) {
    if (unit == L'/') unit = L'\\';
  }
  return relative.empty() ? path : path + L"\\" + relative;
}

std::wstring launcher_path(const std::wstring& name) { return fixture_path(L"launchers\\" + name + L".exe"); }

bool file_exists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool directory_exists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string read_file(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string text = drain(file);
  CloseHandle(file);
  return text;
}

void write_file(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

void remove_tree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
          (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveDirectoryW(child.c_str());  // the link alone
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(child);
      } else {
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(child.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

namespace {

bool is_reparse_point(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction's reparse data: the tag, the data's length, then the mount
// point record, whose path buffer holds the substitute name ("\??\" and the
// full path) and the print name, each with its terminator.
struct JunctionData {
  DWORD tag;
  WORD data_len;
  WORD reserved;
  WORD substitute_offset, substitute_len, print_offset, print_len;
  wchar_t names[2 * MAX_PATH + 8];
};

bool make_junction(const std::wstring& link, const std::wstring& to) {
  const std::wstring substitute = L"\\??\\" + to;
  if (2 * (substitute.size() + to.size() + 2) > sizeof(JunctionData{}.names)) return false;
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  JunctionData data{};
  data.tag = IO_REPARSE_TAG_MOUNT_POINT;
  data.substitute_len = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  data.print_offset = static_cast<WORD>(data.substitute_len + sizeof(wchar_t));
  data.print_len = static_cast<WORD>(to.size() * sizeof(wchar_t));
  substitute.copy(data.names, substitute.size());
  to.copy(data.names + substitute.size() + 1, to.size());
  data.data_len = static_cast<WORD>(4 * sizeof(WORD) + data.print_offset + data.print_len + sizeof(wchar_t));
  DWORD returned = 0;
  const BOOL set = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data, 8 + data.data_len, nullptr, 0,
                                   &returned, nullptr);
  CloseHandle(handle);
  return set != FALSE;
}

}  // namespace

bool make_link(const std::wstring& link, const std::wstring& to, bool folder) {
  constexpr DWORD kAllowUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  const DWORD flags = kAllowUnprivileged | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
  if (CreateSymbolicLinkW(link.c_str(), to.c_str(), flags) && is_reparse_point(link)) return true;
  if (!folder) return false;
  RemoveDirectoryW(link.c_str());
  return make_junction(link, to) && is_reparse_point(link);
}

std::wstring temp_dir() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
  std::wstring path(folder, n);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::string report_value(const std::string& report, const std::string& key) {
  const std::string needle = key + "=";
  std::size_t at = 0;
  while (at < report.size()) {
    const std::size_t end = report.find('\n', at);
    std::string line = report.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, needle.size(), needle) == 0) return line.substr(needle.size());
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "<absent>";
}

std::wstring local_app_data() {
  wchar_t folder[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder) != S_OK) return L"";
  return folder;
}

}  // namespace quorin::testing
