// Looking up placeholder names. Pure code.
#include "template/placeholders.h"

namespace quorin::expansion {

namespace {

wchar_t ascii_lower(wchar_t unit) { return unit >= L'A' && unit <= L'Z' ? unit - L'A' + L'a' : unit; }

bool equals_ignoring_ascii_case(const wchar_t* name, std::size_t len, const wchar_t* known) {
  for (std::size_t i = 0; i < len; ++i) {
    if (known[i] == L'\0' || ascii_lower(name[i]) != ascii_lower(known[i])) return false;
  }
  return known[len] == L'\0';
}

bool is_ascii_letter(wchar_t unit) { return ascii_lower(unit) >= L'a' && ascii_lower(unit) <= L'z'; }

}  // namespace

bool is_absolute_folder(const wchar_t* path) {
  if (is_ascii_letter(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
  return path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0' && path[2] != L'\\';
}

const PlaceholderName* find_placeholder(const wchar_t* name, std::size_t len) {
  if (len == 0 || len >= kPlaceholderNameCap) return nullptr;
  for (const PlaceholderName& entry : kPlaceholders) {
    if (equals_ignoring_ascii_case(name, len, entry.name)) return &entry;
  }
  return nullptr;
}

}  // namespace quorin::expansion
