// What a build takes when the user does not say: the version, the default
// spec with its stamp of the build, and the names the defaults come from.
// Pure code, apart from reading SOURCE_DATE_EPOCH.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "packer/pe_image.h"
#include "packer/result.h"

namespace quorin::packer {

inline constexpr char16_t kDefaultVersion[] = u"1.0.0";

// The default spec: every build of an application unpacks into a folder of
// its own, named by its version and its stamp ({BUILD}), beside the other
// builds of the product, which the launcher can then remove.
inline constexpr char kDefaultSpec[] = "{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}-{BUILD}";

// kDefaultSpec, as UTF-16.
std::u16string default_spec();

// "YYYYMMDD_HHMMSS" for seconds since 1970-01-01 in UTC, in the proleptic
// Gregorian calendar, so every system gives the same text.
std::u16string date_time_stamp(std::int64_t seconds);

// A stamp from a hash of the archive's content: 12 lowercase hexadecimal
// digits, the hash's upper 48 bits.
std::u16string content_stamp(std::uint64_t hash);

// SOURCE_DATE_EPOCH, the reproducible-builds convention: a decimal count of
// seconds since 1970 (UTC), up to the end of the year 9999; unset or empty
// leaves epoch empty.
Result source_date_epoch(std::optional<std::int64_t>& epoch);

// The file name's part before its last dot: "bin\MyApp.exe" -> "MyApp".
std::u16string stem_of(std::u16string name);

// A text from the child's version information (a company, a product) made
// one folder name: each character a file name cannot hold (< > : " / \ | ?
// * and controls) becomes "_", dots and blanks at the end are taken off, a
// Windows device name gets "_" after its first part ("CON" -> "CON_"), and
// it is cut at 255 units. Empty when nothing is left.
std::u16string folder_name_from(std::u16string text);

// The launcher's subsystem (2 Windows GUI, 3 console), and a warning when
// there is something to say.
struct SubsystemChoice {
  std::uint16_t subsystem = kSubsystemWindowsGui;
  std::string warning;
};

// option: --subsystem's value ("console", "windows"), empty when not given,
// and it decides. Else the child's (child: its Subsystem field, 0 when it
// could not be read; child_name for the warning): console for a console
// child, else the stub's own GUI subsystem, with a warning when the child is
// neither a console nor a GUI program, or could not be read (none when there
// is no child: attached data without a first entry).
SubsystemChoice choose_subsystem(const std::string& option, std::uint16_t child, const std::u16string& child_name);

// "console", "windows", or the number.
std::string subsystem_name(std::uint16_t subsystem);

// A value that the default spec makes a folder of must be one folder name;
// what says why not (what: "the product", ...).
Result check_folder_name(const char* what, const std::u16string& value);

}  // namespace quorin::packer
