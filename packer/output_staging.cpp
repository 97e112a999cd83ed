// Writing under a temporary name and renaming into place. Touches the file
// system.
#include "packer/output_staging.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "packer/platform.h"

namespace quorin::packer {

namespace fs = std::filesystem;

// Found before any work is done, not at its end.
Result check_output(const fs::path& output) {
  std::error_code ec;
  const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    return fail("--output '" + path_text(output) + "': there is no folder '" + path_text(folder) + "'");
  }
  if (fs::is_directory(output, ec)) return fail("--output '" + path_text(output) + "': a folder");
  return ok();
}

// Beside the final output, so the last step is a rename on one file system.
fs::path partial_path_for(const fs::path& output) {
  return output.parent_path() / (path_text(output.filename()) + ".partial-" + std::to_string(process_id()));
}

unsigned long partial_process(const std::string& output_name, const std::string& name) {
  const std::string prefix = output_name + ".partial-";
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 || name.compare(0, prefix.size(), prefix) != 0 ||
      name[prefix.size()] == '0') {
    return 0;
  }
  std::uint64_t pid = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return pid <= 0xFFFFFFFFu ? static_cast<unsigned long>(pid) : 0;
}

// A run ended by a signal no handler sees (SIGKILL, a power cut, a closed
// console on Windows) leaves its partial file. A process that was given the
// same number later keeps that file for a while, which only leaves it to a
// later run; this process's own number is stale on every file, as it has
// made none yet. Errors only leave files behind: the build goes on.
void remove_stale_partials(const fs::path& output) {
  const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
  const std::string output_name = path_text(output.filename());
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const unsigned long pid = partial_process(output_name, path_text(it->path().filename()));
    if (pid == 0 || (pid != process_id() && process_running(pid))) continue;
    std::error_code ignored;
    if (it->symlink_status(ignored).type() == fs::file_type::regular) fs::remove(it->path(), ignored);
  }
}

StagedFile::~StagedFile() { discard_staged(*this); }

Result open_staged(StagedFile& staged, const fs::path& temporary, const fs::path& shown, FileKind kind) {
  staged.temporary = temporary;
  staged.shown = shown;
  staged.file = create_output_file(temporary, kind);
  if (staged.file == nullptr) {
    const int why = errno;
    staged.temporary.clear();
    return fail("'" + path_text(shown) + "': " + std::strerror(why));
  }
  remove_on_interrupt(temporary);
  return ok();
}

// The partial file's name is the packer's own affair: a user who cannot
// write it cannot write the output either, and knows only the output.
Result open_partial(StagedFile& staged, const fs::path& output, FileKind kind) {
  remove_stale_partials(output);
  return open_staged(staged, partial_path_for(output), output, kind);
}

Result staged_size(StagedFile& staged, std::uint64_t& size) {
  if (std::fflush(staged.file) != 0) return fail("'" + path_text(staged.shown) + "': " + std::strerror(errno));
  std::error_code ec;
  size = fs::file_size(staged.temporary, ec);
  if (ec) return fail("'" + path_text(staged.shown) + "': " + ec.message());
  return ok();
}

Result finish_staged(StagedFile& staged, const fs::path& final_path) {
  if (staged.file != nullptr) {
    const bool closed = std::fclose(staged.file) == 0;
    staged.file = nullptr;
    if (!closed) return fail("'" + path_text(staged.shown) + "': " + std::strerror(errno));
  }
  std::error_code ec;
  fs::rename(staged.temporary, final_path, ec);
  if (ec) return fail("'" + path_text(final_path) + "': " + ec.message());
  remove_on_interrupt({});
  staged.temporary.clear();
  return ok();
}

void discard_staged(StagedFile& staged) {
  if (staged.file == nullptr && staged.temporary.empty()) return;
  remove_on_interrupt({});
  if (staged.file != nullptr) std::fclose(staged.file);
  staged.file = nullptr;
  std::error_code ec;
  if (!staged.temporary.empty()) fs::remove(staged.temporary, ec);
  staged.temporary.clear();
}

}  // namespace quorin::packer
