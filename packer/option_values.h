// The values of the packer's options: texts, numbers, the version, the
// compression options, and the rule for every text baked into a launcher.
// Pure code.
#pragma once

#include <cstdint>
#include <string>

#include "packer/archive_writer.h"
#include "packer/options.h"
#include "packer/result.h"

namespace quorin::packer {

// The value of a text option as UTF-16, or fallback when it is not given.
Result text_option(const ParsedArgs& parsed, const char* name, std::u16string fallback, std::u16string& out);

// One to four numbers of 0 to 65535 (A, A.B, A.B.C or A.B.C.D): the version
// resource holds four parts of 16 bits; the parts not given are 0.
Result parse_version(const std::u16string& version, unsigned parts[4]);

// --level and --threads.
Result compress_options(const ParsedArgs& parsed, CompressOptions& options);

// --keep-builds: how many other builds of the product a launcher keeps, 0 to
// kMostKeptBuilds, or "all" (kKeepEveryBuild).
inline constexpr int kMostKeptBuilds = 1000;
Result keep_builds_option(const ParsedArgs& parsed, std::uint32_t& keep);

// --progress-window: "auto" (1) or "never" (0).
Result progress_window_option(const ParsedArgs& parsed, std::uint32_t& shown);

// A text that a launcher carries, given by option ("--spec", "--company",
// ...): never a NUL (the launcher reads up to the first); the spec never
// empty and at most 4095 units, company and product at most 1023, the room
// the stub keeps for each with its terminator.
Result check_baked_text(const char* option, const std::u16string& text);

}  // namespace quorin::packer
