// Target directory spec expansion. Talks to the system (folders, module path,
// clock, environment).
#include "template/expand.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <cwctype>

#include "errors/fatal.h"
#include "generated/baked.h"
#include "launcher/env.h"
#include "launcher/wide_text.h"
#include "template/placeholders.h"
#include "template/random_text.h"
#include "template/spec_reader.h"
#include "template/time_text.h"

namespace quorin::expansion {

namespace {

using launcher::append_text;

// Removes every trailing backslash from the whole output (not only from the
// value just appended), stopping at the output's start.
void trim_trailing_backslashes(wchar_t* output) {
  std::size_t len = std::wcslen(output);
  while (len > 0 && output[len - 1] == L'\\') output[--len] = L'\0';
}

// The room after the output's text, for the system calls that write there
// themselves; a DWORD, so an (unused) capacity beyond 4 Gi units is held to it.
DWORD remaining_room(std::size_t capacity, std::size_t len) {
  const std::size_t room = capacity - len;
  return room > MAXDWORD ? MAXDWORD : static_cast<DWORD>(room);
}

// The system writes these two values itself at the output position, bounded
// by the remaining room. A text that did not fit, or a failed call, is
// reported as false rather than building a path from a cut text.
bool append_module_path(wchar_t* output, std::size_t capacity) {
  const std::size_t len = std::wcslen(output);
  const DWORD room = remaining_room(capacity, len);
  // A path cut to fit comes back with the full room as its length (and, on
  // Windows XP, without a terminator).
  const DWORD result = GetModuleFileNameW(nullptr, output + len, room);
  if (result == 0 || result >= room) {
    output[len] = L'\0';
    return false;
  }
  return true;
}

bool append_temp_path(wchar_t* output, std::size_t capacity) {
  const std::size_t len = std::wcslen(output);
  const DWORD room = remaining_room(capacity, len);
  // GetTempPathW answers a text that does not fit with the size it needs,
  // terminator included, and a text that fits with its length without the
  // terminator; so any result of room or more did not fit.
  const DWORD result = GetTempPathW(room, output + len);
  if (result == 0 || result >= room) {
    output[len] = L'\0';
    return false;
  }
  trim_trailing_backslashes(output);
  return true;
}

// A cache moved by the user (a machine whose policy forbids running programs
// from the profile, or a cache wanted on another drive): an absolute folder
// in QUORIN_CACHE_DIR, appended as it is written. A relative or empty value
// would unpack wherever the launcher happens to be started from, so it is
// ignored; false then, and for no value.
bool append_moved_cache(wchar_t* output, std::size_t capacity) {
  const wchar_t* moved = launcher::env_get(kCacheDirVariable);
  if (moved == nullptr || !is_absolute_folder(moved)) return false;
  append_text(output, capacity, moved);
  return true;
}

void append_pid(wchar_t* output, std::size_t capacity) {
  const wchar_t* inherited = launcher::env_get("QUORIN_ONEFILE_PARENT");
  if (inherited != nullptr) {
    // Never empty here: env_get reads an empty variable as no value. The digit
    // class of the default locale also holds U+00B2, U+00B3, U+00B9 and the
    // digits of other scripts; those pass.
    const std::wctype_t digit = std::wctype("digit");
    for (const wchar_t* unit = inherited; *unit != L'\0'; ++unit) {
      if (!std::iswctype(*unit, digit)) errors::hard_stop();
    }
    append_text(output, capacity, inherited);
    return;
  }
  wchar_t wide[launcher::kNumberTextCap];
  launcher::process_id_text(wide);
  append_text(output, capacity, wide);
}

// Appends the remembered value of a run-dependent placeholder, whoever set it,
// unchanged; false when the variable holds none.
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
  // The counter's result is not examined; the address of q on the stack and
  // the process id are mixed in with it.
  LARGE_INTEGER q;
  QueryPerformanceCounter(&q);
  const std::uint32_t seed = random_seed(static_cast<std::uint64_t>(q.QuadPart), GetCurrentProcessId(),
                                         reinterpret_cast<std::uintptr_t>(&q));
  wchar_t text[kRandomTextLen + 1];
  random_text(seed, text);
  append_and_remember(output, capacity, "QUORIN_ONEFILE_RANDOM", text);
}

// 100-ns intervals since 1 January 1601 UTC. TIME and TIME_US each read the
// clock for themselves.
std::uint64_t system_time() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

void append_time_us(wchar_t* output, std::size_t capacity) {
  if (append_remembered(output, capacity, "QUORIN_ONEFILE_TIME_US")) return;
  wchar_t text[kTimeUsTextCap];
  format_time_us(system_time(), text);
  append_and_remember(output, capacity, "QUORIN_ONEFILE_TIME_US", text);
}

void append_time(wchar_t* output, std::size_t capacity) {
  if (append_remembered(output, capacity, "QUORIN_ONEFILE_START")) return;
  wchar_t text[kTimeTextCap];
  format_time(static_cast<std::int64_t>(system_time()), text);
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
      // "{PROGRAM}" expanded one level deep at the output position, then cut:
      // the cuts look at the appended value alone.
      const std::size_t len = std::wcslen(output);
      wchar_t* value = output + len;
      if (!expand_spec(value, L"{PROGRAM}", capacity - len)) return false;
      if (placeholder == Placeholder::kProgramDir) {
        launcher::cut_at_last_backslash(value);
      } else {
        const std::size_t value_len = std::wcslen(value);
        // The directory part stays: the value is the whole path without ".exe".
        if (value_len >= 4 && _wcsicmp(value + value_len - 4, L".exe") == 0) value[value_len - 4] = L'\0';
      }
      return true;
    }
    case Placeholder::kPid:
      append_pid(output, capacity);
      return true;
    case Placeholder::kHome:
    case Placeholder::kCacheDir: {
      if (placeholder == Placeholder::kCacheDir && append_moved_cache(output, capacity)) {
        trim_trailing_backslashes(output);
        return true;
      }
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
    case Placeholder::kBuild:
      append_text(output, capacity, generated::kBuild);
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

}  // namespace

bool expand_spec(wchar_t* output, const wchar_t* spec, std::size_t capacity) {
  if (capacity == 0) return false;
  output[0] = L'\0';
  std::size_t len = 0;  // of the output's text
  SpecReader reader;
  spec_reader_start(reader, spec);
  for (;;) {
    const SpecItem item = spec_read(reader);
    switch (item.kind) {
      case SpecItemKind::kLiteral:
        // Room for the unit and the terminator after it.
        if (len + 2 > capacity) return false;
        output[len++] = item.unit;
        output[len] = L'\0';
        break;
      case SpecItemKind::kName: {
        // Unknown, empty, or longer than any name (1024 units or more).
        const PlaceholderName* known = find_placeholder(item.name, item.name_len);
        if (known == nullptr || !append_placeholder(output, capacity, known->placeholder)) return false;
        len = std::wcslen(output);
        break;
      }
      case SpecItemKind::kDroppedName:
      case SpecItemKind::kOpenName:
        break;  // restarted by "{", or still open at the end: dropped
      case SpecItemKind::kEnd:
        return true;
    }
  }
}

}  // namespace quorin::expansion
