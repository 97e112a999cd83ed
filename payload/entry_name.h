// The rule for entry names: what the launcher may join to its target
// directory and write, and what the packer may pack. Pure code.
//
// A name is 1 to 1023 UTF-16 units of backslash-separated components, with
//   - no drive, no leading backslash and no empty, "." or ".." component;
//   - no forward slash, colon (drive or stream) or character Windows forbids
//     in file names (controls 0x01-0x1F, < > " | ? *);
//   - no component ending in a dot or a blank (Windows trims them, so "a."
//     and "a" are one file, and "... " is "..");
//   - no component that Windows takes for a device, in any letter case and
//     with any extension: CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (also with
//     the superscript digits 1, 2, 3), CONIN$, CONOUT$;
//   - no component over 255 units (the longest NTFS file name);
//   - no lone surrogate (a unit of D800-DFFF outside a pair);
//   - no component of the form of the launcher's temporary files
//     ("~quorin-<digits>-<digits>.tmp", any letter case), which it writes
//     beside payload files and removes again;
//   - no component named as the target folder's record or lock file
//     ("~quorin-record.bin", "~quorin-lock.bin", any letter case).
#pragma once

#include <cstddef>

namespace quorin::payload {

enum class NameProblem {
  kNone,
  kEmpty,
  kTooLong,
  kForwardSlash,
  kColon,
  kForbiddenCharacter,
  kLoneSurrogate,
  kEmptyComponent,
  kDotComponent,
  kTrailingDotOrBlank,
  kDeviceName,
  kComponentTooLong,
  kTemporaryName,
  kFolderFileName,
};

inline constexpr std::size_t kMaxComponentUnits = 255;

// The first rule name[0, len) breaks, or kNone. Units are taken by value, so
// the rule holds for 16-bit units on Windows and 32-bit wchar_t on the host.
NameProblem entry_name_problem(const wchar_t* name, std::size_t len);

// What the problem means, for the packer's messages: an English phrase
// without a final stop ("a component is a Windows device name ...").
const char* name_problem_text(NameProblem problem);

}  // namespace quorin::payload
