// Child launch, wait and shutdown. Talks to the system (processes).
#include "child/run.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

#include "child/command_line.h"
#include "child/creation_job.h"
#include "errors/fatal.h"
#include "errors/messages.h"
#include "launcher/state.h"

namespace quorin::child {

namespace {

// The child process handle is the one thing the main thread shares with the
// console control handler's threads (one per event, possibly overlapping).
// Every thread that uses the handle holds a use under g_child_lock; whoever
// lets go of the last use closes it, so it is closed exactly once and never
// while another thread still waits on it or queries it. Giving the handle up
// empties g_child_process, so later events act on no process. The main thread
// holds a use from the creation to the end of its wait and query, so it closes
// the handle unless a handler is still waiting on it then; in that case the
// handler closes it when its wait ends.
SRWLOCK g_child_lock = SRWLOCK_INIT;
HANDLE g_child_process = nullptr;
int g_child_uses = 0;
// Set once, by the main thread, when the child has been created.
std::atomic<unsigned long> g_started_child_id{0};

void hold_new_child(HANDLE process) {
  AcquireSRWLockExclusive(&g_child_lock);
  g_child_process = process;
  g_child_uses = 1;
  ReleaseSRWLockExclusive(&g_child_lock);
}

// The held child handle with one more use, or nullptr when none is held.
HANDLE take_child_use() {
  AcquireSRWLockExclusive(&g_child_lock);
  HANDLE process = g_child_process;
  if (process != nullptr) ++g_child_uses;
  ReleaseSRWLockExclusive(&g_child_lock);
  return process;
}

// Drops a use and gives the handle up; the last use closes it.
void give_up_child_use(HANDLE process) {
  AcquireSRWLockExclusive(&g_child_lock);
  if (g_child_process == process) g_child_process = nullptr;
  const bool last = --g_child_uses == 0;
  ReleaseSRWLockExclusive(&g_child_lock);
  if (last) CloseHandle(process);
}

// Process creation takes an application name of at most MAX_PATH - 1 units.
// A longer child program path goes by its short form, and the launcher never
// hands the system a path it cannot take.
wchar_t g_short_form[launcher::kPathCap];
// The short form as a \\?\ path: "\\?\" ("\\?\UNC" for a share), then the form.
wchar_t g_verbatim_form[launcher::kPathCap + 8];

// Wine (8.0) widens a short application name back to its long form inside
// CreateProcessW: at 260 units it refuses it (not found), and at a few
// thousand it overflows its own stack. A \\?\ path it takes as it stands.
bool running_under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const wchar_t* verbatim_short_form() {
  const bool share = g_short_form[0] == L'\\' && g_short_form[1] == L'\\';
  launcher::copy_text(g_verbatim_form, launcher::kPathCap + 8, share ? L"\\\\?\\UNC" : L"\\\\?\\");
  launcher::append_text(g_verbatim_form, launcher::kPathCap + 8, share ? g_short_form + 1 : g_short_form);
  return g_verbatim_form;
}

const wchar_t* launchable_child_path() {
  const wchar_t* path = launcher::g_child_program_path;
  if (std::wcslen(path) < MAX_PATH) return path;
  // GetShortPathNameW returns the length without the terminator, or the
  // room it needs (terminator included) when the buffer is too small, or 0.
  const DWORD len = GetShortPathNameW(path, g_short_form, launcher::kPathCap);
  if (len == 0) errors::fail_system(errors::kLaunchMessage, GetLastError());
  // No short form short enough: a volume without short names, or one too long.
  if (len >= MAX_PATH) errors::fail_system(errors::kLaunchMessage, ERROR_FILENAME_EXCED_RANGE);
  return running_under_wine() ? verbatim_short_form() : g_short_form;
}

// Another launcher of the same build, started at the same moment, may put
// the same program in place just as this one starts it: Windows refuses the
// rename of a running image, but under Wine the name can change hands while
// process creation opens it, and the creation fails (a sharing violation, or
// an internal error). Such a refusal passes; the start is tried again with
// growing pauses for a bounded time. Every other failure is final at once.
constexpr unsigned long kLaunchRetryMilliseconds = 1000;
constexpr unsigned long kFirstLaunchRetryMilliseconds = 10;

bool launch_may_pass(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_INTERNAL_ERROR;
}

// A failure that is the program's or the moment's, whatever the job: the
// program missing or no program, or a refusal that passes (tried again in
// the job by the caller).
bool failure_is_not_the_jobs(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_BAD_EXE_FORMAT ||
         launch_may_pass(error);
}

// Creates the child inside the creation job (child/creation_job.h), or as
// it stands where there is none or the system refuses one (a launcher whose
// own job allows no job below it); GetLastError tells a failure.
bool create_child(const wchar_t* child_path, wchar_t* command_line, STARTUPINFOEXW& startup,
                  PROCESS_INFORMATION& process) {
  if (creation_job_attach(startup)) {
    startup.StartupInfo.cb = sizeof startup;
    const bool created = CreateProcessW(child_path, command_line, nullptr, nullptr, TRUE,
                                        NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                        &startup.StartupInfo, &process) != FALSE;
    const DWORD error = GetLastError();
    creation_job_release(startup);
    if (created) return true;
    if (failure_is_not_the_jobs(error)) {
      SetLastError(error);
      return false;
    }
  }
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  return CreateProcessW(child_path, command_line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup.StartupInfo, &process) != FALSE;
}

}  // namespace

unsigned long run_child(void (*while_child_runs)()) {
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);

  wchar_t* command_line = const_cast<wchar_t*>(build_child_command_line());
  PROCESS_INFORMATION process = {};
  // No environment and no directory: the child inherits the launcher's
  // environment of this moment and its current directory.
  const wchar_t* child_path = launchable_child_path();
  unsigned long waited = 0;
  for (unsigned long delay = kFirstLaunchRetryMilliseconds;; delay *= 2) {
    if (create_child(child_path, command_line, startup, process)) break;
    const DWORD error = GetLastError();
    if (!launch_may_pass(error) || waited >= kLaunchRetryMilliseconds) errors::fail_system(errors::kLaunchMessage, error);
    Sleep(delay);
    waited += delay;
  }
  CloseHandle(process.hThread);
  hold_new_child(process.hProcess);
  g_started_child_id.store(process.dwProcessId, std::memory_order_release);
  if (while_child_runs != nullptr) while_child_runs();

  DWORD exit_code = 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  if (!GetExitCodeProcess(process.hProcess, &exit_code)) exit_code = 1;
  give_up_child_use(process.hProcess);
  return exit_code;
}

unsigned long started_child_id() { return g_started_child_id.load(std::memory_order_acquire); }

void stop_child() {
  HANDLE process = take_child_use();
  if (process == nullptr) return;
  // Unless the child ended within the grace time (a time-out, or a failed
  // wait), end it.
  if (WaitForSingleObject(process, kStopGraceMilliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(process, 0);
  }
  give_up_child_use(process);
}

int __stdcall console_control_handler(unsigned long event_type) {
  switch (event_type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stop_child();
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace quorin::child
