// The names of the launcher's temporary files. Pure code.
#include "payload/temporary_name.h"

#include <cwchar>
#include <initializer_list>

#include "launcher/wide_text.h"

namespace quorin::payload {

namespace {

constexpr wchar_t kPrefix[] = L"~quorin-";
constexpr wchar_t kSuffix[] = L".tmp";
constexpr std::size_t kPrefixLen = 8;
constexpr std::size_t kSuffixLen = 4;

bool is_digit(wchar_t unit) { return unit >= L'0' && unit <= L'9'; }

bool matches_at(const wchar_t* text, const wchar_t* lower_ascii, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i) {
    if (launcher::ascii_lower(text[i]) != lower_ascii[i]) return false;
  }
  return true;
}

void append_number(wchar_t* dest, std::size_t cap, std::uint32_t value) {
  wchar_t digits[10];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) launcher::append_unit(dest, cap, digits[--count]);
}

// Reads digits from text[at, end); false when there are none. value is the
// number, saturated past 32 bits so that the caller can refuse it.
bool read_number(const wchar_t* text, std::size_t& at, std::size_t end, std::uint64_t& value) {
  const std::size_t start = at;
  value = 0;
  for (; at < end && is_digit(text[at]); ++at) {
    if (value <= 0xFFFFFFFFull) value = value * 10 + static_cast<std::uint64_t>(text[at] - L'0');
  }
  return at > start;
}

// The two numbers of a temporary name, or false when component is not one.
bool parse(const wchar_t* component, std::size_t len, std::uint64_t& process, std::uint64_t& serial) {
  if (len < kPrefixLen + 1 + 1 + 1 + kSuffixLen) return false;
  if (!matches_at(component, kPrefix, kPrefixLen)) return false;
  if (!matches_at(component + len - kSuffixLen, kSuffix, kSuffixLen)) return false;
  const std::size_t end = len - kSuffixLen;
  std::size_t at = kPrefixLen;
  if (!read_number(component, at, end, process)) return false;
  if (at >= end || component[at] != L'-') return false;
  ++at;
  if (!read_number(component, at, end, serial)) return false;
  return at == end;
}

}  // namespace

void append_temporary_name(wchar_t* dest, std::size_t cap, std::uint32_t process, std::uint32_t serial) {
  launcher::append_text(dest, cap, kPrefix);
  append_number(dest, cap, process);
  launcher::append_unit(dest, cap, L'-');
  append_number(dest, cap, serial);
  launcher::append_text(dest, cap, kSuffix);
}

bool is_temporary_name(const wchar_t* component, std::size_t len) {
  std::uint64_t process = 0, serial = 0;
  return parse(component, len, process, serial);
}

bool is_folder_file_name(const wchar_t* component, std::size_t len) {
  for (const wchar_t* name : {kRecordName, kLockName}) {
    if (len == std::wcslen(name) && matches_at(component, name, len)) return true;
  }
  return false;
}

bool temporary_name_process(const wchar_t* name, std::uint32_t& process) {
  std::uint64_t number = 0, serial = 0;
  if (!parse(name, std::wcslen(name), number, serial)) return false;
  if (number > 0xFFFFFFFFull || serial > 0xFFFFFFFFull) return false;
  process = static_cast<std::uint32_t>(number);
  return true;
}

}  // namespace quorin::payload
