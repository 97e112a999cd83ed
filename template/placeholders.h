// The placeholder names a target directory spec may use, in the order in which
// a name is tried. Shared by the launcher's expander and the packer's check of
// a spec. Pure code: no system calls.
#pragma once

#include <cstddef>

namespace quorin::expansion {

enum class Placeholder {
  kTemp, kProgram, kProgramBase, kProgramDir, kPid, kHome, kCacheDir, kCompany,
  kProduct, kVersion, kFileVersion, kProductVersion, kRandom, kTimeUs, kTime, kBuild,
};

struct PlaceholderName {
  const wchar_t* name;
  Placeholder placeholder;
};

inline constexpr PlaceholderName kPlaceholders[] = {
    {L"TEMP", Placeholder::kTemp},
    {L"PROGRAM", Placeholder::kProgram},
    {L"PROGRAM_BASE", Placeholder::kProgramBase},
    {L"PROGRAM_DIR", Placeholder::kProgramDir},
    {L"PID", Placeholder::kPid},
    {L"HOME", Placeholder::kHome},
    {L"CACHE_DIR", Placeholder::kCacheDir},
    {L"COMPANY", Placeholder::kCompany},
    {L"PRODUCT", Placeholder::kProduct},
    {L"VERSION", Placeholder::kVersion},
    {L"FILE_VERSION", Placeholder::kFileVersion},
    {L"PRODUCT_VERSION", Placeholder::kProductVersion},
    {L"RANDOM", Placeholder::kRandom},
    {L"TIME_US", Placeholder::kTimeUs},
    {L"TIME", Placeholder::kTime},
    // The stamp of the build the packer bakes in: each build of a product
    // gets a folder of its own, and the others can be told apart.
    {L"BUILD", Placeholder::kBuild},
};

// The longest name the table holds has 15 units; the launcher collects names
// of at most 1023 (a 1024-unit buffer with its terminator).
inline constexpr std::size_t kPlaceholderNameCap = 1024;

// The placeholder whose whole name equals name[0, len) with the case of the
// ASCII letters ignored (as _wcsicmp compares in the runtime's default
// locale, which the launcher never changes); nullptr for none, the empty
// name and names of 1024 units or more included.
const PlaceholderName* find_placeholder(const wchar_t* name, std::size_t len);

// The variable that moves the cache: an absolute folder there is the value of
// CACHE_DIR in place of the local application-data folder.
inline constexpr char kCacheDirVariable[] = "QUORIN_CACHE_DIR";

// True for a path that names a folder without depending on the current
// directory or drive: a drive letter, ":" and a backslash ("D:\cache"), or two
// backslashes and a server ("\\server\share"). "D:cache", "\\" alone,
// "\cache" and "cache" are relative.
bool is_absolute_folder(const wchar_t* path);

}  // namespace quorin::expansion
