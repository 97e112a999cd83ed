// Where the baked constants lie in a launcher: one block at the start of the
// launcher's ".qconst" section, written by the packer into a copy of the stub.
// Shared by the launcher (generated/baked.h) and the packer. Pure code.
//
//   offset  size   content
//   0       16     kBakedMagic
//   16      8      the attached data's RVA (relative to the image base), u64 LE
//   24      8      the attached data's length L, u64 LE
//   32      8192   target directory spec, 4096 UTF-16LE units with the terminator
//   8224    2048   company, 1024 units with the terminator
//   10272   2048   product, 1024 units with the terminator
//   12320   64     version, 32 units with the terminator
//   12384   8      the archive index's RVA, u64 LE (0: no index)
//   12392   8      the archive index's length, u64 LE
//   12400   64     the build's stamp, {BUILD}: 32 units with the terminator
//   12464   4      how many other builds of the product to keep, u32 LE
//                  (kKeepEveryBuild: all)
//   12468   4      the progress window: 1 auto, 0 never, u32 LE
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorin::generated {

inline constexpr char kBakedSectionName[] = ".qconst";
inline constexpr char kBakedMagic[16] = "quorin baked v3";
// The blocks of launchers from earlier packers: the same up to the index's
// fields (v2), or up to the version, without them (v1).
inline constexpr char kBakedMagicWithIndex[16] = "quorin baked v2";
inline constexpr char kBakedMagicWithoutIndex[16] = "quorin baked v1";

inline constexpr std::size_t kBakedSpecCap = 4096;
inline constexpr std::size_t kBakedTextCap = 1024;
inline constexpr std::size_t kBakedVersionCap = 32;
inline constexpr std::size_t kBakedBuildCap = 32;

// The count of other builds to keep that keeps them all.
inline constexpr std::uint32_t kKeepEveryBuild = 0xFFFFFFFF;

inline constexpr std::size_t kBakedAttachedRvaOffset = 16;
inline constexpr std::size_t kBakedAttachedLengthOffset = 24;
inline constexpr std::size_t kBakedSpecOffset = 32;
inline constexpr std::size_t kBakedCompanyOffset = kBakedSpecOffset + 2 * kBakedSpecCap;
inline constexpr std::size_t kBakedProductOffset = kBakedCompanyOffset + 2 * kBakedTextCap;
inline constexpr std::size_t kBakedVersionOffset = kBakedProductOffset + 2 * kBakedTextCap;
inline constexpr std::size_t kBakedIndexRvaOffset = kBakedVersionOffset + 2 * kBakedVersionCap;
inline constexpr std::size_t kBakedIndexLengthOffset = kBakedIndexRvaOffset + 8;
inline constexpr std::size_t kBakedBuildOffset = kBakedIndexLengthOffset + 8;
inline constexpr std::size_t kBakedKeepBuildsOffset = kBakedBuildOffset + 2 * kBakedBuildCap;
inline constexpr std::size_t kBakedProgressWindowOffset = kBakedKeepBuildsOffset + 4;
inline constexpr std::size_t kBakedSize = kBakedProgressWindowOffset + 4;
// The block of a v2 launcher ends after the index's fields.
inline constexpr std::size_t kBakedSizeWithIndex = kBakedBuildOffset;

}  // namespace quorin::generated
