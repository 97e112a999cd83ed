// The rule for entry names. Pure code.
#include "payload/entry_name.h"

#include <initializer_list>

#include "launcher/wide_text.h"
#include "payload/temporary_name.h"

namespace quorin::payload {

namespace {

bool is_high_surrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool base_is(const wchar_t* base, std::size_t len, const wchar_t* device) {
  for (std::size_t i = 0; i < len; ++i) {
    if (device[i] == L'\0' || launcher::ascii_lower(base[i]) != device[i]) return false;
  }
  return device[len] == L'\0';
}

// Windows takes a component for a device when its part before the first dot,
// trailing blanks removed, is a device name: "nul", "NUL.txt", "com1 .log".
bool is_device_name(const wchar_t* component, std::size_t len) {
  std::size_t base_len = 0;
  while (base_len < len && component[base_len] != L'.') ++base_len;
  while (base_len > 0 && component[base_len - 1] == L' ') --base_len;
  for (const wchar_t* device : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"}) {
    if (base_is(component, base_len, device)) return true;
  }
  if (base_len != 4) return false;
  const bool com = base_is(component, 3, L"com"), lpt = base_is(component, 3, L"lpt");
  const wchar_t digit = component[3];
  // 1-9 and the superscripts 1 (U+00B9), 2 (U+00B2) and 3 (U+00B3).
  return (com || lpt) && ((digit >= L'1' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

NameProblem component_problem(const wchar_t* component, std::size_t len) {
  if (len == 0) return NameProblem::kEmptyComponent;
  if ((len == 1 && component[0] == L'.') || (len == 2 && component[0] == L'.' && component[1] == L'.')) {
    return NameProblem::kDotComponent;
  }
  if (component[len - 1] == L'.' || component[len - 1] == L' ') return NameProblem::kTrailingDotOrBlank;
  if (len > kMaxComponentUnits) return NameProblem::kComponentTooLong;
  if (is_device_name(component, len)) return NameProblem::kDeviceName;
  if (is_temporary_name(component, len)) return NameProblem::kTemporaryName;
  if (is_folder_file_name(component, len)) return NameProblem::kFolderFileName;
  return NameProblem::kNone;
}

}  // namespace

NameProblem entry_name_problem(const wchar_t* name, std::size_t len) {
  if (len == 0) return NameProblem::kEmpty;
  if (len >= 1024) return NameProblem::kTooLong;
  for (std::size_t i = 0; i < len; ++i) {
    const wchar_t unit = name[i];
    if (unit == L'/') return NameProblem::kForwardSlash;
    if (unit == L':') return NameProblem::kColon;
    if (static_cast<unsigned long>(unit) < 0x20 || unit == L'<' || unit == L'>' || unit == L'"' || unit == L'|' ||
        unit == L'?' || unit == L'*') {
      return NameProblem::kForbiddenCharacter;
    }
    if (is_high_surrogate(unit)) {
      if (i + 1 == len || !is_low_surrogate(name[i + 1])) return NameProblem::kLoneSurrogate;
      ++i;  // the pair's low half
    } else if (is_low_surrogate(unit)) {
      return NameProblem::kLoneSurrogate;
    }
  }
  std::size_t start = 0;
  for (std::size_t i = 0; i <= len; ++i) {
    if (i < len && name[i] != L'\\') continue;
    if (const NameProblem problem = component_problem(name + start, i - start); problem != NameProblem::kNone) {
      return problem;
    }
    start = i + 1;
  }
  return NameProblem::kNone;
}

const char* name_problem_text(NameProblem problem) {
  switch (problem) {
    case NameProblem::kNone:
      return "the name is fine";
    case NameProblem::kEmpty:
      return "the name is empty";
    case NameProblem::kTooLong:
      return "the name has more than 1023 UTF-16 units";
    case NameProblem::kForwardSlash:
      return "the name holds a forward slash (components are separated by backslashes)";
    case NameProblem::kColon:
      return "the name holds a colon (a drive or a stream)";
    case NameProblem::kForbiddenCharacter:
      return "the name holds a character Windows does not allow in file names";
    case NameProblem::kLoneSurrogate:
      return "the name holds a lone surrogate, which is no character";
    case NameProblem::kEmptyComponent:
      return "the name has an empty component (a leading, trailing or doubled backslash)";
    case NameProblem::kDotComponent:
      return "the name has a \".\" or \"..\" component";
    case NameProblem::kTrailingDotOrBlank:
      return "a name component ends in a dot or a blank, which Windows removes";
    case NameProblem::kDeviceName:
      return "a name component is a Windows device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$)";
    case NameProblem::kComponentTooLong:
      return "a name component has more than 255 UTF-16 units";
    case NameProblem::kTemporaryName:
      return "a name component has the form of the launcher's temporary files (~quorin-<digits>-<digits>.tmp)";
    case NameProblem::kFolderFileName:
      return "a name component is the name of the target folder's record or lock (~quorin-record.bin, ~quorin-lock.bin)";
  }
  return "the name breaks a rule";
}

}  // namespace quorin::payload
