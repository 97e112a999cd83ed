// CRC-32 by carry-less multiplication (folding), after Intel's "Fast CRC
// Computation for Generic Polynomials Using PCLMULQDQ Instruction". Pure code.
//
// In the reflected domain a 128-bit lane x moves d bits further along the data
// as x.low * K(d + 32) ^ x.high * K(d - 32), where K(n) is x^n mod P, bit-
// reflected and shifted left by one. The lanes fold over 512 bits (four xmm
// lanes) or 1024 bits (four ymm registers of two lanes), come together into
// one, which folds over 128 bits a step to the end; then the last 128 bits
// become 64 (K(64)), then 32, and a Barrett step gives the register.
#include "payload/crc32_fold.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quorin::payload {

#if defined(__x86_64__)

namespace {

// K(n) for the folding distances; P and floor(x^64 / P), reflected, for Barrett.
constexpr long long kK1056 = 0x1e88ef372, kK992 = 0x14a7fe880;  // 1024 bits
constexpr long long kK544 = 0x154442bd4, kK480 = 0x1c6e41596;   // 512 bits
constexpr long long kK288 = 0x0f1da05aa, kK224 = 0x15a546366;   // 256 bits
constexpr long long kK160 = 0x1751997d0, kK96 = 0x0ccaa009e;    // 128 bits
constexpr long long kK64 = 0x163cd6124;
constexpr long long kPolynomial = 0x1db710641;
constexpr long long kBarrett = 0x1f7011641;

__attribute__((target("pclmul"))) inline __m128i fold(__m128i lane, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)), next);
}

__attribute__((target("avx2,vpclmulqdq"))) inline __m256i fold(__m256i lanes, __m256i k, __m256i next) {
  return _mm256_xor_si256(
      _mm256_xor_si256(_mm256_clmulepi64_epi128(lanes, k, 0x00), _mm256_clmulepi64_epi128(lanes, k, 0x11)), next);
}

inline __m128i load(const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

__attribute__((target("avx2"))) inline __m256i load_wide(const unsigned char* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Folds x over the 16-byte blocks from data to end, then reduces it to the
// (still inverted) register.
__attribute__((target("pclmul"))) std::uint32_t finish(__m128i x, const unsigned char* data, const unsigned char* end) {
  const __m128i by128 = _mm_set_epi64x(kK96, kK160);
  for (; data < end; data += 16) x = fold(x, by128, load(data));
  // 128 bits to 64: the low half moves on by 64 bits.
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, by128, 0x10), _mm_srli_si128(x, 8));
  // 64 to 32.
  const __m128i mask = _mm_cvtsi32_si128(-1);
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask), _mm_set_epi64x(0, kK64), 0x00),
                    _mm_srli_si128(x, 4));
  // Barrett reduction: the register in bits 32 to 63.
  const __m128i barrett = _mm_set_epi64x(kBarrett, kPolynomial);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask), barrett, 0x00);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, t), 4)));
}

__attribute__((target("pclmul"))) std::uint32_t fold_128(std::uint32_t crc, const unsigned char* data,
                                                         const unsigned char* end) {
  // zlib keeps its register inverted.
  __m128i x0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(~crc)));
  __m128i x1 = load(data + 16), x2 = load(data + 32), x3 = load(data + 48);
  const __m128i by512 = _mm_set_epi64x(kK480, kK544);
  for (data += 64; end - data >= 64; data += 64) {
    x0 = fold(x0, by512, load(data));
    x1 = fold(x1, by512, load(data + 16));
    x2 = fold(x2, by512, load(data + 32));
    x3 = fold(x3, by512, load(data + 48));
  }
  const __m128i by128 = _mm_set_epi64x(kK96, kK160);
  return ~finish(fold(fold(fold(x0, by128, x1), by128, x2), by128, x3), data, end);
}

__attribute__((target("avx2,vpclmulqdq,pclmul"))) std::uint32_t fold_256(std::uint32_t crc, const unsigned char* data,
                                                                         const unsigned char* end) {
  __m256i y0 = _mm256_xor_si256(load_wide(data), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(~crc))));
  __m256i y1 = load_wide(data + 32), y2 = load_wide(data + 64), y3 = load_wide(data + 96);
  const __m256i by1024 = _mm256_set_epi64x(kK992, kK1056, kK992, kK1056);
  for (data += 128; end - data >= 128; data += 128) {
    y0 = fold(y0, by1024, load_wide(data));
    y1 = fold(y1, by1024, load_wide(data + 32));
    y2 = fold(y2, by1024, load_wide(data + 64));
    y3 = fold(y3, by1024, load_wide(data + 96));
  }
  const __m256i by256 = _mm256_set_epi64x(kK224, kK288, kK224, kK288);
  const __m256i y = fold(fold(fold(y0, by256, y1), by256, y2), by256, y3);
  // The register's two lanes are consecutive 16-byte blocks.
  const __m128i x =
      fold(_mm256_castsi256_si128(y), _mm_set_epi64x(kK96, kK160), _mm256_extracti128_si256(y, 1));
  return ~finish(x, data, end);
}

}  // namespace

FoldWidth crc32_fold_width() {
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq")) return FoldWidth::k256;
  if (__builtin_cpu_supports("pclmul")) return FoldWidth::k128;
  return FoldWidth::kNone;
}

std::uint32_t crc32_fold(FoldWidth width, std::uint32_t crc, const unsigned char* data, std::size_t size,
                         std::size_t& consumed) {
  consumed = size & ~static_cast<std::size_t>(15);
  if (width == FoldWidth::k256) return fold_256(crc, data, data + consumed);
  return fold_128(crc, data, data + consumed);
}

#else

FoldWidth crc32_fold_width() { return FoldWidth::kNone; }

std::uint32_t crc32_fold(FoldWidth, std::uint32_t crc, const unsigned char*, std::size_t, std::size_t& consumed) {
  consumed = 0;
  return crc;
}

#endif

}  // namespace quorin::payload
