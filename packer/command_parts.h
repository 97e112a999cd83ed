// The pieces the packer's commands share: the failure line, reading option
// values, the partial output that becomes the output only on success, the
// input folder with its child checked, ready attached data. Touches the file
// system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "packer/archive_writer.h"
#include "packer/generated_source.h"
#include "packer/icon.h"
#include "packer/input_tree.h"
#include "packer/options.h"
#include "packer/result.h"

namespace quorin::packer {

// "quorin-pack: MESSAGE" on stderr after ending a progress line; exit 1.
int report(const std::string& message);

// The value of a text option as UTF-16, or fallback when it is not given.
Result text_option(const ParsedArgs& parsed, const char* name, std::u16string fallback, std::u16string& out);

// X.Y.Z, each a number from 0 to 65535: the version resource holds 16 bits a part.
Result parse_version(const std::u16string& version, unsigned parts[3]);

// --level and --threads.
Result compress_options(const ParsedArgs& parsed, CompressOptions& options);

// A user's .ico file whose images the launcher's icon group can carry.
Result read_launcher_icon(const std::filesystem::path& path, std::vector<IconImage>& images);

// The output's folder must exist and the output must not be a folder.
Result check_output(const std::filesystem::path& output);

// The output written beside its final place as OUT.partial-PID, removed
// unless it became the output; finish_output closes it and renames it over
// OUT, so an earlier file at OUT stays as it was until then.
struct Scratch {
  std::filesystem::path partial;
  std::FILE* file = nullptr;
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch();
};
Result open_partial(Scratch& scratch, const std::filesystem::path& output);
Result finish_output(Scratch& scratch, const std::filesystem::path& output);

// The files of --input with --child first, the child checked to be a
// Windows x64 program.
Result collect_program_folder(const ParsedArgs& parsed, std::vector<InputFile>& files);

// Copies a ready attached-data file to out, verbatim.
Result copy_attached(const std::filesystem::path& path, std::FILE* out, std::uint64_t& length);

// The build command (build_command.cpp).
int run_build(const CommandSpec& command, const ParsedArgs& parsed);

}  // namespace quorin::packer
