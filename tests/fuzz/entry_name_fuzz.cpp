// Fuzzing the entry-name rule: the input is a name in UTF-16LE (at most 2048
// units; the rule's own limit is 1023). The rule's verdict must be one of the
// problems a plain re-statement of the rule finds in the name, and kNone
// exactly when it finds none; an accepted name must keep every promise the
// rule makes. Pure test code.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "payload/entry_name.h"
#include "tests/fuzz/fuzz_units.h"

namespace {

using quorin::payload::NameProblem;

constexpr std::size_t kMaxInputUnits = 2048;

std::vector<std::wstring> components_of(const std::wstring& name) {
  std::vector<std::wstring> parts(1);
  for (const wchar_t unit : name) {
    if (unit == L'\\') {
      parts.emplace_back();
    } else {
      parts.back() += unit;
    }
  }
  return parts;
}

std::wstring ascii_lowered(std::wstring text) {
  for (wchar_t& unit : text) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit + (L'a' - L'A'));
  }
  return text;
}

// The names Windows reserves for devices, whatever follows a dot.
bool names_a_device(const std::wstring& component) {
  std::wstring base = ascii_lowered(component.substr(0, component.find(L'.')));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  static const std::set<std::wstring> kDevices = [] {
    std::set<std::wstring> devices = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (const wchar_t* digits : {L"123456789", L"\u00B9\u00B2\u00B3"}) {
      for (const wchar_t* digit = digits; *digit != L'\0'; ++digit) {
        devices.insert(std::wstring(L"com") + *digit);
        devices.insert(std::wstring(L"lpt") + *digit);
      }
    }
    return devices;
  }();
  return kDevices.count(base) != 0;
}

// Every rule the name breaks, each checked on its own.
std::set<NameProblem> problems_of(const std::wstring& name) {
  std::set<NameProblem> found;
  if (name.empty()) found.insert(NameProblem::kEmpty);
  if (name.size() > 1023) found.insert(NameProblem::kTooLong);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const wchar_t unit = name[i];
    if (unit == L'/') found.insert(NameProblem::kForwardSlash);
    if (unit == L':') found.insert(NameProblem::kColon);
    if (unit < 0x20 || std::wstring(L"<>\"|?*").find(unit) != std::wstring::npos) {
      found.insert(NameProblem::kForbiddenCharacter);
    }
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    const bool next_low = i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF;
    if (high && next_low) {
      ++i;
    } else if (high || low) {
      found.insert(NameProblem::kLoneSurrogate);
    }
  }
  if (name.empty()) return found;
  for (const std::wstring& part : components_of(name)) {
    if (part.empty()) found.insert(NameProblem::kEmptyComponent);
    if (part == L"." || part == L"..") found.insert(NameProblem::kDotComponent);
    if (!part.empty() && (part.back() == L'.' || part.back() == L' ')) found.insert(NameProblem::kTrailingDotOrBlank);
    if (part.size() > 255) found.insert(NameProblem::kComponentTooLong);
    if (!part.empty() && names_a_device(part)) found.insert(NameProblem::kDeviceName);
    const std::wstring lowered = ascii_lowered(part);
    if (lowered == L"~quorin-record.bin" || lowered == L"~quorin-lock.bin") found.insert(NameProblem::kFolderFileName);
  }
  return found;
}

// What an accepted name promises, stated once more without the problem kinds.
void check_accepted(const std::wstring& name) {
  QUORIN_FUZZ_CHECK(!name.empty() && name.size() <= 1023);
  QUORIN_FUZZ_CHECK(name.front() != L'\\' && name.back() != L'\\');
  QUORIN_FUZZ_CHECK(name.find(L':') == std::wstring::npos && name.find(L'/') == std::wstring::npos);
  QUORIN_FUZZ_CHECK(name.find(L"\\\\") == std::wstring::npos);
  for (const std::wstring& part : components_of(name)) {
    QUORIN_FUZZ_CHECK(part != L".." && part != L".");
    QUORIN_FUZZ_CHECK(part.size() <= 255);
    QUORIN_FUZZ_CHECK(!names_a_device(part));
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] >= 0xDC00 && name[i] <= 0xDFFF) {
      QUORIN_FUZZ_CHECK(i > 0 && name[i - 1] >= 0xD800 && name[i - 1] <= 0xDBFF);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2 * kMaxInputUnits) return 0;
  const std::wstring name = quorin::fuzz::utf16le_units(data, size);
  const NameProblem verdict = quorin::payload::entry_name_problem(name.data(), name.size());
  const std::set<NameProblem> expected = problems_of(name);
  if (verdict == NameProblem::kNone) {
    QUORIN_FUZZ_CHECK(expected.empty());
    check_accepted(name);
  } else {
    QUORIN_FUZZ_CHECK(expected.count(verdict) == 1);
  }
  QUORIN_FUZZ_CHECK(quorin::payload::name_problem_text(verdict)[0] != '\0');
  return 0;
}
