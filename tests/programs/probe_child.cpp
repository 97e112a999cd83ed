// A child program for the launcher's tests: reports what it was given (its
// arguments, the launcher's variables, its current directory) on standard
// output, one "key=value" line each, and ends as the environment asks:
//   QUORIN_PROBE_EXIT      exit code (decimal, or hex with 0x)
//   QUORIN_PROBE_STDERR    a text to write to standard error
//   QUORIN_PROBE_SLEEP_MS  how long to sleep before ending
//   QUORIN_PROBE_WINDOW    a title: the sleep is spent with a visible window
//                          of that title, as a windowed application's first
//                          window
//   QUORIN_PROBE_REPORT    a file to write the report to instead of stdout
//   QUORIN_PROBE_VERIFY    a manifest in the probe's folder, "size crc name" lines
//                          (UTF-8 names relative to that folder): every file it
//                          names is checked, "verified=<count>" and one
//                          "bad=<name>" per file of another size or checksum are
//                          reported, and any bad file makes the exit code 77
//   QUORIN_PROBE_PARENT_CONSOLE  when set, "parent_console=yes" or "no": whether
//                          the parent (the launcher) has a console, found by
//                          attaching to it, which only a console allows
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string hex_units(const wchar_t* text) {
  std::string out;
  char unit[8];
  for (; *text != L'\0'; ++text) {
    std::snprintf(unit, sizeof unit, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(*text));
    out += unit;
  }
  return out;
}

std::wstring env(const wchar_t* name, bool* present = nullptr) {
  static wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name, value, 32768);
  if (present != nullptr) *present = n > 0 && n < 32768;
  return n > 0 && n < 32768 ? std::wstring(value) : std::wstring();
}

std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

bool read_whole(const std::wstring& path, std::string& data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  data.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(file);
  return true;
}

// The files the manifest names, checked against their sizes and checksums
// (zlib's CRC-32, 0 stored as 1); the report's lines, and whether all held.
bool verify_manifest(const std::wstring& folder, const std::wstring& manifest, std::string& report) {
  std::string text;
  if (!read_whole(folder + L"\\" + manifest, text)) {
    report += "bad=" + utf8(manifest.c_str()) + "\n";
    return false;
  }
  int verified = 0;
  bool all = true;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t first = line.find(' '), second = line.find(' ', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const unsigned long long size = std::strtoull(line.substr(0, first).c_str(), nullptr, 10);
    const unsigned long crc = std::strtoul(line.substr(first + 1, second - first - 1).c_str(), nullptr, 10);
    const std::string name = line.substr(second + 1);
    std::string data;
    uLong actual = 0;
    const bool read = read_whole(folder + L"\\" + wide(name), data);
    if (read) actual = crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    if (!read || data.size() != size || (actual == 0 ? 1 : actual) != crc) {
      report += "bad=" + name + "\n";
      all = false;
    }
    ++verified;
  }
  report += "verified=" + std::to_string(verified) + "\n";
  return all;
}

// A plain visible top-level window with the title, kept (its messages
// handled) for milliseconds.
void show_window_for(const std::wstring& title, DWORD milliseconds) {
  HWND window = CreateWindowExW(0, L"STATIC", title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 120,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  const ULONGLONG end = GetTickCount64() + milliseconds;
  MSG message;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
  if (window != nullptr) DestroyWindow(window);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::string report = "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) {
    report += "argv[" + std::to_string(i) + "]=" + utf8(argv[i]) + "\n";
    report += "argv[" + std::to_string(i) + "].hex=" + hex_units(argv[i]) + "\n";
  }
  report += "cmdline=" + utf8(GetCommandLineW()) + "\n";
  for (const wchar_t* name : {L"QUORIN_ONEFILE_PARENT", L"QUORIN_ONEFILE_DIRECTORY", L"QUORIN_ORIGINAL_ARGV0",
                              L"QUORIN_ONEFILE_START", L"QUORIN_ONEFILE_TIME_US", L"QUORIN_ONEFILE_RANDOM"}) {
    bool present = false;
    const std::wstring value = env(name, &present);
    report += utf8(name) + "=" + (present ? utf8(value.c_str()) : std::string("<unset>")) + "\n";
  }
  wchar_t directory[4096];
  GetCurrentDirectoryW(4096, directory);
  report += "cwd=" + utf8(directory) + "\n";
  wchar_t module[4096];
  GetModuleFileNameW(nullptr, module, 4096);
  report += "module=" + utf8(module) + "\n";
  report += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
  if (!env(L"QUORIN_PROBE_PARENT_CONSOLE").empty()) {
    // The probe leaves any console of its own first; its standard handles are
    // kept as they were.
    const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE saved[3];
    for (int i = 0; i < 3; ++i) saved[i] = GetStdHandle(ids[i]);
    FreeConsole();
    const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    report += std::string("parent_console=") + (attached ? "yes" : "no") + "\n";
    if (attached) FreeConsole();
    for (int i = 0; i < 3; ++i) SetStdHandle(ids[i], saved[i]);
  }
    const std::wstring manifest = env(L"QUORIN_PROBE_VERIFY");
  bool verified = true;
  if (!manifest.empty()) {
    std::wstring folder = module;
    folder.resize(folder.rfind(L'\\'));
    verified = verify_manifest(folder, manifest, report);
  }

  const std::wstring report_file = env(L"QUORIN_PROBE_REPORT");
  if (!report_file.empty()) {
    HANDLE file = CreateFileW(report_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
  } else {
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::fflush(stdout);
  }
  const std::wstring to_stderr = env(L"QUORIN_PROBE_STDERR");
  if (!to_stderr.empty()) {
    std::fprintf(stderr, "%s\n", utf8(to_stderr.c_str()).c_str());
    std::fflush(stderr);
  }
  const std::wstring sleep_ms = env(L"QUORIN_PROBE_SLEEP_MS");
  const DWORD sleep = sleep_ms.empty() ? 0 : static_cast<DWORD>(std::wcstoul(sleep_ms.c_str(), nullptr, 10));
  const std::wstring window_title = env(L"QUORIN_PROBE_WINDOW");
  if (!window_title.empty()) {
    show_window_for(window_title, sleep);
  } else if (sleep > 0) {
    Sleep(sleep);
  }
  const std::wstring exit_code = env(L"QUORIN_PROBE_EXIT");
  // ExitProcess keeps all 32 bits of the code (a return from wmain would too).
  if (!verified) ExitProcess(77);
  ExitProcess(exit_code.empty() ? 0 : static_cast<UINT>(std::wcstoul(exit_code.c_str(), nullptr, 0)));
}
