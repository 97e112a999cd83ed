// Room for the child's path under the 260 units that process creation takes:
// what a build already fixes of it (the spec's literal text and the child's
// name) and the warning when that leaves little room for the placeholders;
// and room for every entry's path in the launcher's 4,096-unit buffer.
// Pure code.
#pragma once

#include <cstddef>
#include <string>

#include "packer/generated_source.h"

namespace quorin::packer {

// At this length a child path can be started only by its short form, which
// not every volume has (MAX_PATH, its terminator counted).
inline constexpr std::size_t kChildPathLimit = 260;

// What the placeholders of a spec may well take: the user's folders alone run
// to 30 to 60 units ("C:\Users\<name>\AppData\Local").
inline constexpr std::size_t kRoomForPlaceholders = 100;

// The UTF-16 units of the child's path known at build time: the spec's
// literal units (a placeholder counts nothing), a backslash and the child's
// name. placeholders is set to how many the spec holds.
std::size_t known_child_path_units(const std::u16string& spec, const std::u16string& child, std::size_t& placeholders);

// The warning for a build whose child path is sure to reach the limit, or
// leaves less than kRoomForPlaceholders for its placeholders; "" otherwise.
// child is the --child name as given (UTF-8).
std::string path_room_warning(const std::u16string& spec, const std::string& child);

// The launcher joins the target folder, a backslash and an entry's name in a
// buffer of 4,096 units, its terminator included: a longer path is a hard
// stop (exit 3, no message), met after the entries before it are written.
inline constexpr std::size_t kEntryPathLimit = 4095;

// The fewest UTF-16 units constants.spec can expand to: its literal units,
// the company, product and version as baked, and for each other placeholder
// the shortest value it can have (a folder or the launcher's path: a drive,
// "C:"; {PID}: one digit; {RANDOM}: 11; {TIME_US}: 6; {TIME}: 18 digits for
// any date after 1917).
std::size_t least_spec_units(const BakedConstants& constants);

// The warning, naming it, for an entry name that does not fit after the
// shortest target folder constants.spec can give; "" when it fits.
std::string entry_room_warning(const BakedConstants& constants, const std::u16string& longest_name);

}  // namespace quorin::packer
