// Writing a launcher: a copy of the stub with the baked constants filled in,
// the attached data in a section of its own that starts on a 4 KiB boundary
// of the file, and a resource section built from the resources, laid out as
// launcher_layout.h plans. No compiler, assembler or linker runs. Writes the
// output file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "packer/generated_source.h"
#include "packer/launcher_layout.h"
#include "packer/resource_section.h"
#include "packer/result.h"

namespace quorin::packer {

// Writes the attached data at out's current position and says how long it
// is, and gives the archive's index (payload/index.h) when it has one (else
// leaves index empty): the index goes into the same section after the data.
using AttachedWriter = std::function<Result(std::FILE* out, std::uint64_t& length, std::string& index)>;

// Writes the launcher to out, a new file opened for reading and writing.
// constants are read after write_attached has run, so that it may complete
// them. subsystem goes into the optional header's Subsystem field (2
// Windows GUI, 3 console; 0 keeps the stub's own). Fails on a stub that is
// not the shape plan_stub takes, texts that do not fit their room, or an
// image that would be too large.
Result write_launcher(std::string_view stub, const BakedConstants& constants, const std::vector<Resource>& resources,
                      const AttachedWriter& write_attached, std::FILE* out, std::uint16_t subsystem = 0);

}  // namespace quorin::packer
