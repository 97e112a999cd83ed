// The constants baked into each launcher: declared here, defined by the
// generated source (which includes this header, so both must agree), placed
// in a section of their own that the packer fills in a copy of the stub.
// Windows only: the texts are UTF-16 wchar_t.
#pragma once

#include <cstddef>
#include <cstdint>

#include "generated/baked_layout.h"

namespace quorin::generated {

struct BakedConstants {
  char magic[16];
  std::uint64_t attached_rva;     // 0 in the stub: no attached data
  std::uint64_t attached_length;  // L
  wchar_t spec[kBakedSpecCap];
  wchar_t company[kBakedTextCap];
  wchar_t product[kBakedTextCap];
  wchar_t version[kBakedVersionCap];
  std::uint64_t index_rva;     // 0 in the stub: no index
  std::uint64_t index_length;
  wchar_t build[kBakedBuildCap];  // the stamp {BUILD} stands for
  std::uint32_t keep_builds;      // other builds of the product kept; kKeepEveryBuild: all
  std::uint32_t progress_window;  // 1: shown on a slow first start; 0: never
};

static_assert(sizeof(wchar_t) == 2, "the baked texts are UTF-16");
static_assert(offsetof(BakedConstants, attached_rva) == kBakedAttachedRvaOffset);
static_assert(offsetof(BakedConstants, attached_length) == kBakedAttachedLengthOffset);
static_assert(offsetof(BakedConstants, spec) == kBakedSpecOffset);
static_assert(offsetof(BakedConstants, company) == kBakedCompanyOffset);
static_assert(offsetof(BakedConstants, product) == kBakedProductOffset);
static_assert(offsetof(BakedConstants, version) == kBakedVersionOffset);
static_assert(offsetof(BakedConstants, index_rva) == kBakedIndexRvaOffset);
static_assert(offsetof(BakedConstants, index_length) == kBakedIndexLengthOffset);
static_assert(offsetof(BakedConstants, build) == kBakedBuildOffset);
static_assert(offsetof(BakedConstants, keep_builds) == kBakedKeepBuildsOffset);
static_assert(offsetof(BakedConstants, progress_window) == kBakedProgressWindowOffset);
static_assert(sizeof(BakedConstants) == kBakedSize);

extern const BakedConstants kBaked;

inline const wchar_t* const kTargetDirectorySpec = kBaked.spec;
inline const wchar_t* const kCompany = kBaked.company;
inline const wchar_t* const kProduct = kBaked.product;
inline const wchar_t* const kVersion = kBaked.version;
inline const wchar_t* const kBuild = kBaked.build;

}  // namespace quorin::generated
