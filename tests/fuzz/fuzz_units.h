// What the fuzzers share: their input read as UTF-16 units, a touch of the
// bytes a reader hands out, and the check that turns a broken property into
// a crash that libFuzzer keeps the input for. Pure test code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorin::fuzz {

// Byte pairs in little-endian order; a last odd byte is ignored.
inline std::wstring utf16le_units(const std::uint8_t* data, std::size_t size) {
  std::wstring units;
  units.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
  return units;
}

// Reads the first and the last byte of a range a reader handed out: under
// AddressSanitizer, a range that runs past its buffer is a finding.
inline void touch_range(const unsigned char* data, std::size_t size) {
  if (size == 0) return;
  volatile unsigned char sink = data[0];
  sink = data[size - 1];
  static_cast<void>(sink);
}

[[noreturn]] inline void fail_check(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

}  // namespace quorin::fuzz

#define QUORIN_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::quorin::fuzz::fail_check(#condition, __FILE__, __LINE__))
