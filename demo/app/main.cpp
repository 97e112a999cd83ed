// The demo application: a small Windows program that the README packs into a
// launcher. It reports what it was given, so a user sees the launcher at work.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::string variable(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD n = GetEnvironmentVariableW(name, value, 32768);
  return n > 0 && n < 32768 ? utf8(value) : "(not set)";
}

std::string read_text(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(cannot be read)";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
  CloseHandle(file);
  std::string text(buffer, got);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t module[4096];
  GetModuleFileNameW(nullptr, module, 4096);
  std::wstring folder = module;
  folder.resize(folder.rfind(L'\\'));

  std::printf("Hello from the packed demo application.\n\n");
  std::printf("  unpacked to        %s\n", utf8(folder.c_str()).c_str());
  for (int i = 0; i < argc; ++i) std::printf("  argument %-9d %s\n", i, utf8(argv[i]).c_str());
  std::printf("  launcher folder    %s\n", variable(L"QUORIN_ONEFILE_DIRECTORY").c_str());
  std::printf("  launcher called as %s\n", variable(L"QUORIN_ORIGINAL_ARGV0").c_str());
  std::printf("  launcher process   %s\n", variable(L"QUORIN_ONEFILE_PARENT").c_str());
  std::printf("  data\\greeting.txt  %s\n", read_text(folder + L"\\data\\greeting.txt").c_str());
  std::printf("  data\\config\\demo.ini %s\n", read_text(folder + L"\\data\\config\\demo.ini").c_str());
  std::fflush(stdout);
  return argc > 1 ? 0 : 7;  // an exit code of its own, passed through by the launcher
}
