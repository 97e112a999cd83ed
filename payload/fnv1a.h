// FNV-1a, the 64-bit hash of the directory cache's paths and of the packer's
// archive content: one step per unit (a UTF-16 unit or a byte). Pure code.
#pragma once

#include <cstdint>

namespace quorin::payload {

inline constexpr std::uint64_t kFnv1aOffsetBasis = 0xCBF29CE484222325ull;
inline constexpr std::uint64_t kFnv1aPrime = 0x100000001B3ull;

inline constexpr std::uint64_t fnv1a_step(std::uint64_t hash, std::uint64_t unit) {
  return (hash ^ unit) * kFnv1aPrime;
}

}  // namespace quorin::payload
