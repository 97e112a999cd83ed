// list, verify and extract: reading a launcher exe or an attached-data file on
// the build machine the way the launcher reads it on the user's. Reads files;
// extract writes inside its output folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/options.h"

namespace quorin::packer {

// The entries (size, stored checksum, name) in archive order, the totals and
// the frame's parameters, as a table or (--json) as JSON. Exit 1 when the
// archive cannot be read to its end marker, after showing what it could.
int run_list(const ParsedArgs& parsed);

// What the walk of attached data found besides the problems.
struct AttachedSummary {
  std::uint64_t files = 0;
  std::uint64_t archive_bytes = 0;
  std::u16string first_name;
};

// Every way attached data departs from what a sound writer produces or from
// what the launcher can unpack, one line each (verify's lines, and build's
// warnings for --attached); summary, when given, gets the walk's totals.
std::vector<std::string> attached_data_problems(const unsigned char* attached, std::uint64_t length,
                                                const ProgressFn& progress, AttachedSummary* summary);

// One line on stdout per problem, then a count; "FILE: ok" and exit 0 when
// there is none, exit 1 otherwise.
int run_verify(const ParsedArgs& parsed);

// Unpacks into --output, skipping files already there with the entry's size
// and checksum; entries with names the launcher must not use are left out.
// Exit 1 on any such entry or wrong checksum (reported), or on a failure.
int run_extract(const ParsedArgs& parsed);

}  // namespace quorin::packer
