// What a build takes when the user does not say: the version, the default
// spec with its stamp of the build, and the names the defaults come from.
// Pure code, apart from reading SOURCE_DATE_EPOCH.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "packer/result.h"

namespace quorin::packer {

inline constexpr char16_t kDefaultVersion[] = u"1.0.0";

// The default spec: this prefix, then the stamp of the build as its last
// folder, so every build of an application unpacks into a folder of its own.
inline constexpr char kDefaultSpecPrefix[] = "{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}\\";

// kDefaultSpecPrefix and stamp.
std::u16string default_spec(const std::u16string& stamp);

// "YYYYMMDD_HHMMSS" for seconds since 1970-01-01 in UTC, in the proleptic
// Gregorian calendar, so every system gives the same text.
std::u16string date_time_stamp(std::int64_t seconds);

// A stamp from a hash of the archive's content: a second from 2000-01-01 on,
// within a hundred years.
std::u16string content_stamp(std::uint64_t hash);

// SOURCE_DATE_EPOCH, the reproducible-builds convention: a decimal count of
// seconds since 1970 (UTC), up to the end of the year 9999; unset or empty
// leaves epoch empty.
Result source_date_epoch(std::optional<std::int64_t>& epoch);

// The file name's part before its last dot: "bin\MyApp.exe" -> "MyApp".
std::u16string stem_of(std::u16string name);

// A value that the default spec makes a folder of must be one folder name;
// what says why not (what: "the product", ...).
Result check_folder_name(const char* what, const std::u16string& value);

}  // namespace quorin::packer
