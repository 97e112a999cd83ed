// What the packer needs of the system it runs on, Linux or Windows: files
// mapped for reading, files opened by path, paths as UTF-8 text, the command
// line as UTF-8, whether standard error is a terminal, the process id and
// whether another process runs. One implementation per system
// (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "packer/result.h"

namespace quorin::packer {

// A whole file mapped read-only for as long as this lives; an empty file has
// no mapping (data is nullptr, size 0).
struct MappedFile {
  const unsigned char* data = nullptr;
  std::uint64_t size = 0;
  void* handle = nullptr;  // the system's mapping object, where it has one
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();
};

// Fails with "'PATH': why" for a missing or unreadable file or one that is
// not a regular file.
Result map_whole_file(const std::filesystem::path& path, MappedFile& file);

// A path's text in UTF-8, for messages and archive names, and the path a
// UTF-8 text names. (On Windows the system's paths are UTF-16.)
std::string path_text(const std::filesystem::path& path);
std::filesystem::path path_from_text(const std::string& text);

// fopen and fseek for paths and offsets of any size.
std::FILE* open_file(const std::filesystem::path& path, const char* mode);
bool seek_file(std::FILE* file, std::uint64_t offset);

// The program's arguments after its name, as UTF-8.
std::vector<std::string> program_arguments(int argc, char** argv);

// True when standard error is a terminal that can show the progress line
// (a carriage return and "\033[K" rewrite it in place).
bool progress_terminal();

unsigned long process_id();

// False only when the system says that no process has the id pid; one it
// will not show (another user's) counts as running.
bool process_running(unsigned long pid);

// From here on, Ctrl+C and SIGTERM (on Windows: Ctrl+C and Ctrl+Break) end
// the packer at once with exit code 130, after removing the output being
// written, ending a progress line left open and saying "interrupted". False
// when the system refused the handler: an interrupt would then leave the
// partial output behind.
bool watch_for_interrupts();
// The file an interrupt removes (empty: none), of any path length, and
// whether a progress line stands unfinished.
void remove_on_interrupt(const std::filesystem::path& partial);
void note_progress_line(bool open);

// What a new output file holds. Where files have modes, a program is made
// 0777 less the umask, as a linker makes its output, so it can be run or
// installed as it is; data 0666 less the umask.
enum class FileKind { kData, kProgram };

// A new file for reading and writing ("w+b") that can be removed while it is
// open, as an interrupt does.
std::FILE* create_output_file(const std::filesystem::path& path, FileKind kind);

}  // namespace quorin::packer
