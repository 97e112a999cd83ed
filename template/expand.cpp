// Target directory spec expansion. Talks to the system (folders, module path,
// clock, environment).
#include "template/expand.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "errors/fatal.h"
#include "launcher/baked.h"
#include "launcher/env.h"
#include "launcher/wide_text.h"
#include "template/random_text.h"

namespace quorin::expansion {

namespace {

using launcher::append_text;

enum class Placeholder {
  kTemp, kProgram, kProgramBase, kProgramDir, kPid, kHome, kCacheDir, kCompany,
  kProduct, kVersion, kFileVersion, kProductVersion, kRandom, kTimeUs, kTime,
};

struct PlaceholderName {
  const wchar_t* name;
  Placeholder placeholder;
};

// In the order in which a name is tried.
constexpr PlaceholderName kPlaceholders[] = {
    {L"TEMP", Placeholder::kTemp},
    {L"PROGRAM", Placeholder::kProgram},
    {L"PROGRAM_BASE", Placeholder::kProgramBase},
    {L"PROGRAM_DIR", Placeholder::kProgramDir},
    {L"PID", Placeholder::kPid},
    {L"HOME", Placeholder::kHome},
    {L"CACHE_DIR", Placeholder::kCacheDir},
    {L"COMPANY", Placeholder::kCompany},
    {L"PRODUCT", Placeholder::kProduct},
    {L"VERSION", Placeholder::kVersion},
    {L"FILE_VERSION", Placeholder::kFileVersion},
    {L"PRODUCT_VERSION", Placeholder::kProductVersion},
    {L"RANDOM", Placeholder::kRandom},
    {L"TIME_US", Placeholder::kTimeUs},
    {L"TIME", Placeholder::kTime},
};

constexpr std::size_t kNameCap = launcher::kNameCap;
constexpr std::size_t kTimeTextCap = 21;

// Removes trailing backslashes from the whole output, never looking before its start.
void trim_trailing_backslashes(wchar_t* output) {
  std::size_t len = std::wcslen(output);
  while (len > 0 && output[len - 1] == L'\\') output[--len] = L'\0';
}

// A folder the system writes itself at the output position, bounded by the
// remaining room. Reports that the text did not fit (or that the call failed)
// as false rather than building a path from a cut text.
bool append_module_path(wchar_t* output, std::size_t capacity) {
  const std::size_t len = std::wcslen(output);
  const DWORD room = static_cast<DWORD>(capacity - len);
  const DWORD result = GetModuleFileNameW(nullptr, output + len, room);
  // A path cut to fit comes back with the full room as its length.
  if (result == 0 || result >= room) {
    output[len] = L'\0';
    return false;
  }
  return true;
}

bool append_temp_path(wchar_t* output, std::size_t capacity) {
  const std::size_t len = std::wcslen(output);
  const DWORD room = static_cast<DWORD>(capacity - len);
  // GetTempPathW answers a text that does not fit with the size it needs,
  // terminator included, so any result of room or more did not fit.
  const DWORD result = GetTempPathW(room, output + len);
  if (result == 0 || result >= room) {
    output[len] = L'\0';
    return false;
  }
  trim_trailing_backslashes(output);
  return true;
}

void append_pid(wchar_t* output, std::size_t capacity) {
  const wchar_t* inherited = launcher::env_get("QUORIN_ONEFILE_PARENT");
  if (inherited != nullptr) {
    for (const wchar_t* unit = inherited; *unit != L'\0'; ++unit) {
      if (!std::iswctype(*unit, std::wctype("digit"))) errors::hard_stop();
    }
    append_text(output, capacity, inherited);
    return;
  }
  char narrow[launcher::kNumberTextCap];
  std::snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(GetCurrentProcessId()));
  wchar_t wide[launcher::kNumberTextCap];
  launcher::widen_ascii(wide, launcher::kNumberTextCap, narrow);
  append_text(output, capacity, wide);
}

// The remembered value of a run-dependent placeholder, or nullptr.
bool append_remembered(wchar_t* output, std::size_t capacity, const char* variable) {
  const wchar_t* remembered = launcher::env_get(variable);
  if (remembered == nullptr) return false;
  append_text(output, capacity, remembered);
  return true;
}

void append_and_remember(wchar_t* output, std::size_t capacity, const char* variable,
                         const wchar_t* value) {
  launcher::env_set(variable, value);
  append_text(output, capacity, value);
}

void append_random(wchar_t* output, std::size_t capacity) {
  if (append_remembered(output, capacity, "QUORIN_ONEFILE_RANDOM")) return;
  LARGE_INTEGER q;
  QueryPerformanceCounter(&q);
  const std::uint32_t seed = random_seed(static_cast<std::uint64_t>(q.QuadPart), GetCurrentProcessId(),
                                         reinterpret_cast<std::uintptr_t>(&q));
  wchar_t text[kRandomTextLen + 1];
  random_text(seed, text);
  append_and_remember(output, capacity, "QUORIN_ONEFILE_RANDOM", text);
}

std::int64_t system_time() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(now.dwHighDateTime) << 32 |
                                   now.dwLowDateTime);
}

void append_time_us(wchar_t* output, std::size_t capacity) {
  if (append_remembered(output, capacity, "QUORIN_ONEFILE_TIME_US")) return;
  const long microseconds = static_cast<long>((system_time() / 10) % 1000000);
  wchar_t text[kTimeTextCap];
  std::swprintf(text, kTimeTextCap, L"%06ld", microseconds);
  append_and_remember(output, capacity, "QUORIN_ONEFILE_TIME_US", text);
}

void append_time(wchar_t* output, std::size_t capacity) {
  if (append_remembered(output, capacity, "QUORIN_ONEFILE_START")) return;
  wchar_t text[kTimeTextCap];
  std::swprintf(text, kTimeTextCap, L"%lld", static_cast<long long>(system_time()));
  append_and_remember(output, capacity, "QUORIN_ONEFILE_START", text);
}

bool append_placeholder(wchar_t* output, std::size_t capacity, Placeholder placeholder) {
  switch (placeholder) {
    case Placeholder::kTemp:
      return append_temp_path(output, capacity);
    case Placeholder::kProgram:
      return append_module_path(output, capacity);
    case Placeholder::kProgramBase:
    case Placeholder::kProgramDir: {
      const std::size_t len = std::wcslen(output);
      wchar_t* value = output + len;
      if (!expand_spec(value, L"{PROGRAM}", capacity - len)) return false;
      if (placeholder == Placeholder::kProgramDir) {
        launcher::cut_at_last_backslash(value);
      } else {
        const std::size_t value_len = std::wcslen(value);
        if (value_len >= 4 && _wcsicmp(value + value_len - 4, L".exe") == 0) value[value_len - 4] = L'\0';
      }
      return true;
    }
    case Placeholder::kPid:
      append_pid(output, capacity);
      return true;
    case Placeholder::kHome:
    case Placeholder::kCacheDir: {
      const int folder = placeholder == Placeholder::kHome ? launcher::kFolderProfile
                                                           : launcher::kFolderLocalAppData;
      if (!launcher::append_folder(output, folder, capacity)) return false;
      trim_trailing_backslashes(output);
      return true;
    }
    case Placeholder::kCompany:
      append_text(output, capacity, generated::kCompany);
      return true;
    case Placeholder::kProduct:
      append_text(output, capacity, generated::kProduct);
      return true;
    case Placeholder::kVersion:
    case Placeholder::kFileVersion:
    case Placeholder::kProductVersion:
      append_text(output, capacity, generated::kVersion);
      return true;
    case Placeholder::kRandom:
      append_random(output, capacity);
      return true;
    case Placeholder::kTimeUs:
      append_time_us(output, capacity);
      return true;
    case Placeholder::kTime:
      append_time(output, capacity);
      return true;
  }
  return false;
}

bool expand_name(wchar_t* output, std::size_t capacity, const wchar_t* name) {
  for (const PlaceholderName& entry : kPlaceholders) {
    if (_wcsicmp(name, entry.name) == 0) return append_placeholder(output, capacity, entry.placeholder);
  }
  return false;  // unknown, or the empty name
}

}  // namespace

bool expand_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity) {
  if (capacity == 0) return false;
  output[0] = L'\0';
  wchar_t name[kNameCap];
  std::size_t name_len = 0;
  bool inside_name = false;
  std::size_t len = 0;  // of the output's text
  for (; *spec != L'\0'; ++spec) {
    const wchar_t unit = *spec;
    if (unit == L'{') {
      // Opens a name; inside one, restarts it. There is no escape.
      inside_name = true;
      name_len = 0;
      name[0] = L'\0';
    } else if (inside_name && unit == L'}') {
      inside_name = false;
      if (!expand_name(output, capacity, name)) return false;
      len = std::wcslen(output);
    } else if (inside_name) {
      if (name_len + 1 >= kNameCap) return false;
      name[name_len++] = unit;
      name[name_len] = L'\0';
    } else {
      // A literal, a "}" outside a name included.
      if (len + 2 > capacity) return false;
      output[len++] = unit;
      output[len] = L'\0';
    }
  }
  // A name still open at the end is dropped.
  return true;
}

}  // namespace quorin::expansion
