// The RANDOM placeholder's text: eight xorshift bytes in base64url.
// Pure code: no system calls.
#pragma once

#include <cstdint>

namespace quorin::expansion {

inline constexpr int kRandomTextLen = 11;

// The seed from the performance counter q, the process id p and an address a:
// the exclusive or of their 32-bit halves, 0 replaced by 1.
std::uint32_t random_seed(std::uint64_t q, std::uint32_t p, std::uint64_t a);

// Writes the eleven characters for seed, and a terminator, to text.
void random_text(std::uint32_t seed, wchar_t text[kRandomTextLen + 1]);

}  // namespace quorin::expansion
