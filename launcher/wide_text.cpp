// Bounded copies into fixed UTF-16 buffers. Pure code.
#include "launcher/wide_text.h"

#include "errors/fatal.h"

namespace quorin::launcher {

std::size_t bounded_length(const wchar_t* dest, std::size_t cap) {
  std::size_t len = 0;
  while (len < cap && dest[len] != L'\0') ++len;
  if (len == cap) errors::hard_stop();
  return len;
}

void put_unit(wchar_t* dest, std::size_t cap, std::size_t& len, wchar_t unit) {
  // Room for the unit and the terminator after it.
  if (len + 2 > cap) errors::hard_stop();
  dest[len++] = unit;
  dest[len] = L'\0';
}

void append_unit(wchar_t* dest, std::size_t cap, wchar_t unit) {
  std::size_t len = bounded_length(dest, cap);
  put_unit(dest, cap, len, unit);
}

void append_text(wchar_t* dest, std::size_t cap, const wchar_t* src) {
  std::size_t len = bounded_length(dest, cap);
  for (; *src != L'\0'; ++src) put_unit(dest, cap, len, *src);
}

void copy_text(wchar_t* dest, std::size_t cap, const wchar_t* src) {
  if (cap == 0) errors::hard_stop();
  dest[0] = L'\0';
  append_text(dest, cap, src);
}

void cut_at_last_backslash(wchar_t* path) {
  wchar_t* last = nullptr;
  for (wchar_t* p = path; *p != L'\0'; ++p) {
    if (*p == L'\\') last = p;
  }
  if (last != nullptr) *last = L'\0';
}

}  // namespace quorin::launcher
