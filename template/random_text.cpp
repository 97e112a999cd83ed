// The RANDOM placeholder's text. Pure code.
#include "template/random_text.h"

namespace quorin::expansion {

namespace {

constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

}  // namespace

std::uint32_t random_seed(std::uint64_t q, std::uint32_t p, std::uint64_t a) {
  const std::uint32_t seed = static_cast<std::uint32_t>(q >> 32) ^ static_cast<std::uint32_t>(q) ^ p ^
                             static_cast<std::uint32_t>(a >> 32) ^ static_cast<std::uint32_t>(a);
  return seed == 0 ? 1 : seed;
}

void random_text(std::uint32_t seed, wchar_t text[kRandomTextLen + 1]) {
  // Eight xorshift32 states after the seed; byte k is the low byte of state k,
  // byte 1 the most significant of the 64 bits.
  std::uint64_t bits = 0;
  std::uint32_t x = seed;
  for (int k = 0; k < 8; ++k) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bits = (bits << 8) | (x & 0xFFu);
  }
  // 64 bits and two zero bits make eleven groups of six, most significant first.
  for (int i = 0; i < kRandomTextLen; ++i) {
    const int shift = 64 - 6 * (i + 1);  // -2 for the last group
    const unsigned group = shift >= 0 ? static_cast<unsigned>(bits >> shift) & 0x3Fu
                                      : static_cast<unsigned>(bits << -shift) & 0x3Fu;
    text[i] = kAlphabet[group];
  }
  text[kRandomTextLen] = L'\0';
}

}  // namespace quorin::expansion
