// A test program that starts the program its arguments name (the rest of its
// own command line, as it stands) with no standard handles at all, as
// Explorer starts a windowed program, waits for it and ends with its exit
// code; 200 when it cannot start it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Our own name ends at the first space outside quotes.
  wchar_t* rest = GetCommandLineW();
  bool quoted = false;
  for (; *rest != L'\0' && (quoted || (*rest != L' ' && *rest != L'\t')); ++rest) {
    if (*rest == L'"') quoted = !quoted;
  }
  while (*rest == L' ' || *rest == L'\t') ++rest;

  // STARTF_USESTDHANDLES with three null handles, and none inherited: the
  // child's GetStdHandle gives 0 for each.
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, rest, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 200;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 201;
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}
