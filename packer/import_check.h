// Whether every DLL the packed programs and DLLs import will be found on a
// user's machine: packed where the Windows loader looks for it, or part of
// Windows. A DLL neither is a refusal, one that a separately installed
// runtime brings a warning. Pure code over the files' bytes.
//
// Where a DLL is looked for: in the application folder, the one the loader
// searches first. A packed program's application folder is its own; a
// packed DLL's is the child's, as the child is what loads it (by name or by
// full path: either way the loader looks for a DLL's imports in the
// program's folder, not in the DLL's). Names compare as Windows compares
// them, letter case folded; a name without an extension gets ".dll", as the
// loader gives it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/pe_imports.h"

namespace quorin::packer {

// A packed Windows program or DLL and what it imports.
struct PackedImports {
  std::u16string name;    // as the archive names it, backslash-separated
  bool program = false;   // an executable image, not a DLL: its folder is its application folder
  std::vector<ImportedDll> dlls;
};

// Reads what the file (size bytes at data) imports into entry (its name set
// by the caller) when the file is, by its content, a Windows program or DLL
// that the user-mode loader loads: false for any other file (and for
// drivers and EFI images). problem gets why its tables cannot be read, and
// entry then imports nothing.
bool read_packed_imports(const unsigned char* data, std::uint64_t size, PackedImports& entry, std::string& problem);

struct ImportFindings {
  std::vector<std::string> refusals;  // one line per missing DLL (and folder it is missing from)
  std::vector<std::string> warnings;
};

// Judges the imports of importers, in their order. packed is every name of
// the archive, the child first; allowed the --allow-missing-dll names,
// which are let through without a word.
ImportFindings check_imports(const std::vector<std::u16string>& packed, const std::vector<PackedImports>& importers,
                             const std::vector<std::string>& allowed);

}  // namespace quorin::packer
