// Files written under a temporary name beside their final place and renamed
// over it only when whole, so a failed or interrupted command leaves the
// final name as it was and no temporary behind. Touches the file system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "packer/platform.h"
#include "packer/result.h"

namespace quorin::packer {

// The output's folder must exist and the output must not be a folder.
Result check_output(const std::filesystem::path& output);

// The temporary of a command's output: OUT.partial-PID beside OUT.
std::filesystem::path partial_path_for(const std::filesystem::path& output);

// The process id in name when name is a partial file's name for the output
// file name output_name (OUT.partial-PID, the id as partial_path_for writes
// it: decimal, no leading zero, at most 32 bits); 0 for any other name.
unsigned long partial_process(const std::string& output_name, const std::string& name);

// Removes the partial files that earlier runs left beside output when they
// were killed: those whose process no longer runs. A partial file of a run
// still going is never touched.
void remove_stale_partials(const std::filesystem::path& output);

// A file being written under its temporary name. An interrupt removes it, and
// so does the end of its life unless finish_staged renamed it.
struct StagedFile {
  std::filesystem::path temporary;
  std::filesystem::path shown;  // the name its messages give
  std::FILE* file = nullptr;
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();
};

// Creates temporary for writing; a failure names shown ("'SHOWN': why").
Result open_staged(StagedFile& staged, const std::filesystem::path& temporary, const std::filesystem::path& shown,
                   FileKind kind);

// open_staged for a command's output: OUT.partial-PID, named as OUT, after
// remove_stale_partials.
Result open_partial(StagedFile& staged, const std::filesystem::path& output, FileKind kind);

// The bytes written so far, flushed to the file; a failure names shown.
Result staged_size(StagedFile& staged, std::uint64_t& size);

// Closes the file and renames it over final_path.
Result finish_staged(StagedFile& staged, const std::filesystem::path& final_path);

// Closes and removes the file, if any: it never takes its final name.
void discard_staged(StagedFile& staged);

}  // namespace quorin::packer
