// The TIME and TIME_US placeholders' texts from a system time count.
// Pure code: no system calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::expansion {

// Six digits and the terminator.
inline constexpr std::size_t kTimeUsTextCap = 7;
// The longest signed 64-bit decimal ("-9223372036854775808") and the terminator.
inline constexpr std::size_t kTimeTextCap = 21;

// The microseconds within the current second of t (100-ns intervals since
// 1601): (t / 10) mod 1,000,000 as six digits with leading zeros ("%06ld").
void format_time_us(std::uint64_t t, wchar_t text[kTimeUsTextCap]);

// t as a signed 64-bit number in plain decimal ("%lld"), without leading zeros.
void format_time(std::int64_t t, wchar_t text[kTimeTextCap]);

}  // namespace quorin::expansion
