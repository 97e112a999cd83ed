// The TIME and TIME_US placeholders' texts. Pure code.
#include "template/time_text.h"

#include <cwchar>

namespace quorin::expansion {

void format_time_us(std::uint64_t t, wchar_t text[kTimeUsTextCap]) {
  // Integer division: the 100-ns digit is dropped, not rounded. Unsigned, so
  // the remainder is always 0..999999 and the text always six digits.
  const long microseconds = static_cast<long>((t / 10) % 1000000);
  std::swprintf(text, kTimeUsTextCap, L"%06ld", microseconds);
}

void format_time(std::int64_t t, wchar_t text[kTimeTextCap]) {
  std::swprintf(text, kTimeTextCap, L"%lld", static_cast<long long>(t));
}

}  // namespace quorin::expansion
