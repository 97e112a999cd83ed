// Test support for the child process tests: argument lists, splitting with
// the system, and import replacement in the test program. Talks to the system.
#include "tests/windows/support/child_support.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <map>

#include "child/command_line.h"
#include "tests/windows/support/process.h"

namespace quorin::testing {

namespace {

std::uint32_t next_random(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

// One piece of an argument: a run of one kind of character.
std::wstring random_piece(std::uint32_t& state) {
  static const wchar_t* const kNonAscii[] = {L"\u00e9", L"\u4e2d", L"\u3000", L"\u00a0", L"\ufeff", L"\U0001F600"};
  const std::size_t run = 1 + next_random(state) % 3;
  switch (next_random(state) % 10) {
    case 0: return std::wstring(run, L"abz0"[next_random(state) % 4]);
    case 1: return std::wstring(run, L' ');
    case 2: return std::wstring(1, L"\t\n\v"[next_random(state) % 3]);
    case 3: return std::wstring(run, L'"');
    case 4: return std::wstring(run + next_random(state) % 3, L'\\');
    case 5: return std::wstring(run, L'\\') + std::wstring(1 + next_random(state) % 2, L'"');
    case 6: return kNonAscii[next_random(state) % 6];
    case 7: return L"x" + std::wstring(run, L'\\');
    case 8: return L"C:\\dir\\";
    default: return L"-f=";
  }
}

std::wstring g_fake_command_line;

LPWSTR WINAPI fake_get_command_line() { return g_fake_command_line.data(); }

std::atomic<int> g_module_file_name_calls{0};
using ModuleFileNameFunction = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);
ModuleFileNameFunction g_real_module_file_name = nullptr;

DWORD WINAPI counting_module_file_name(HMODULE module, LPWSTR path, DWORD cap) {
  ++g_module_file_name_calls;
  return g_real_module_file_name(module, path, cap);
}

}  // namespace

std::vector<ArgumentList> generated_argument_lists(std::size_t count, std::uint32_t seed) {
  std::uint32_t state = seed == 0 ? 1 : seed;
  std::vector<ArgumentList> lists;
  for (std::size_t i = 0; i < count; ++i) {
    ArgumentList args;
    const std::size_t argument_count = next_random(state) % 6;
    for (std::size_t a = 0; a < argument_count; ++a) {
      std::wstring arg;
      // One argument in eight is empty.
      if (next_random(state) % 8 != 0) {
        const std::size_t pieces = 1 + next_random(state) % 5;
        for (std::size_t p = 0; p < pieces; ++p) arg += random_piece(state);
      }
      args.push_back(arg);
    }
    lists.push_back(args);
  }
  return lists;
}

std::wstring joined(const ArgumentList& args) {
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& arg : args) pointers.push_back(arg.c_str());
  // Twice the command line capacity: test lines may run past it on purpose.
  std::vector<wchar_t> buffer(2 * child::kCommandLineCap);
  child::join_command_line(buffer.data(), buffer.size(), pointers.data(), static_cast<int>(pointers.size()));
  return buffer.data();
}

ArgumentList split_with_system(const std::wstring& command_line) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(command_line.c_str(), &count);
  ArgumentList out;
  if (args == nullptr) return out;
  for (int i = 0; i < count; ++i) out.push_back(args[i]);
  LocalFree(args);
  return out;
}

ArgumentList reported_arguments(const std::string& report) {
  ArgumentList out;
  const int count = std::atoi(report_value(report, "argc").c_str());
  for (int i = 0; i < count; ++i) {
    const std::string hex = report_value(report, "argv[" + std::to_string(i) + "].hex");
    std::wstring arg;
    for (std::size_t at = 0; at + 4 <= hex.size(); at += 5) {
      arg.push_back(static_cast<wchar_t>(std::stoul(hex.substr(at, 4), nullptr, 16)));
    }
    out.push_back(arg);
  }
  return out;
}

std::wstring own_module_path() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  return std::wstring(path, n);
}

void* replace_import(const char* function, void* replacement) {
  auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  void* previous = nullptr;
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name != 0;
       ++module) {
    // The names stay in the lookup table; the address table holds the bound functions.
    if (module->OriginalFirstThunk == 0) continue;
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
      if (previous == nullptr) previous = reinterpret_cast<void*>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
    }
  }
  return previous;
}

FakeCommandLine::FakeCommandLine(const std::wstring& line) {
  g_fake_command_line = line;
  previous = replace_import("GetCommandLineW", reinterpret_cast<void*>(&fake_get_command_line));
}

FakeCommandLine::~FakeCommandLine() { replace_import("GetCommandLineW", previous); }

CountModuleFileNameCalls::CountModuleFileNameCalls() {
  g_module_file_name_calls = 0;
  g_real_module_file_name = &GetModuleFileNameW;
  previous = replace_import("GetModuleFileNameW", reinterpret_cast<void*>(&counting_module_file_name));
  if (previous != nullptr) g_real_module_file_name = reinterpret_cast<ModuleFileNameFunction>(previous);
}

CountModuleFileNameCalls::~CountModuleFileNameCalls() { replace_import("GetModuleFileNameW", previous); }

namespace {

using CloseHandleFunction = BOOL(WINAPI*)(HANDLE);
CloseHandleFunction g_real_close_handle = &CloseHandle;
SRWLOCK g_closes_lock = SRWLOCK_INIT;
std::map<DWORD, int> g_process_closes;

BOOL WINAPI counting_close_handle(HANDLE handle) {
  // GetProcessId fails for handles of other kinds; the caller's last error stays.
  const DWORD error = GetLastError();
  const DWORD pid = GetProcessId(handle);
  SetLastError(error);
  if (pid != 0) {
    AcquireSRWLockExclusive(&g_closes_lock);
    ++g_process_closes[pid];
    ReleaseSRWLockExclusive(&g_closes_lock);
  }
  return g_real_close_handle(handle);
}

}  // namespace

CountProcessHandleCloses::CountProcessHandleCloses() {
  previous = replace_import("CloseHandle", reinterpret_cast<void*>(&counting_close_handle));
  if (previous != nullptr) g_real_close_handle = reinterpret_cast<CloseHandleFunction>(previous);
}

CountProcessHandleCloses::~CountProcessHandleCloses() { replace_import("CloseHandle", previous); }

int CountProcessHandleCloses::closes_of(unsigned long pid) const {
  AcquireSRWLockExclusive(&g_closes_lock);
  const auto found = g_process_closes.find(pid);
  const int count = found == g_process_closes.end() ? 0 : found->second;
  ReleaseSRWLockExclusive(&g_closes_lock);
  return count;
}

int CountModuleFileNameCalls::calls() const { return g_module_file_name_calls.load(); }

}  // namespace quorin::testing
