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

}  // namespace

const PlaceholderName* find_placeholder(const wchar_t* name, std::size_t len) {
  if (len == 0 || len >= kPlaceholderNameCap) return nullptr;
  for (const PlaceholderName& entry : kPlaceholders) {
    if (equals_ignoring_ascii_case(name, len, entry.name)) return &entry;
  }
  return nullptr;
}

}  // namespace quorin::expansion
