// Linking a launcher with the mingw-w64 toolchain.
#include "packer/link.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace quorin::packer {

namespace fs = std::filesystem;

namespace {

std::string toolchain_prefix() {
  const char* prefix = std::getenv("QUORIN_MINGW_PREFIX");
  return prefix != nullptr && *prefix != '\0' ? prefix : "x86_64-w64-mingw32-";
}

Result write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return fail("'" + path.string() + "': cannot be written");
  return ok();
}

// Runs args in work with its output going to a log; the log's text is the
// error when the program fails.
Result run_tool(const std::vector<std::string>& args, const fs::path& work) {
  const fs::path log = work / "tool.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return fail("cannot run " + args[0] + ": " + std::strerror(spawned) +
                " (is the mingw-w64 toolchain installed? see scripts/setup.sh)");
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return fail("waiting for " + args[0] + ": " + std::strerror(errno));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ok();
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return fail(args[0] + " failed" + (text.empty() ? std::string() : ":\n" + text));
}

}  // namespace

fs::path launcher_library_dir() {
  if (const char* dir = std::getenv("QUORIN_LIB_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return self.parent_path().parent_path() / "lib";
}

Result link_launcher(const LinkInputs& inputs, const fs::path& work, const fs::path& output) {
  const fs::path library_dir = launcher_library_dir();
  if (!fs::exists(library_dir / "libquorin_launcher.a")) {
    return fail("the launcher library is not at '" + library_dir.string() +
                "' (build the project first, or set QUORIN_LIB_DIR)");
  }
  std::error_code ec;
  const fs::path attached = fs::absolute(inputs.attached_data, ec);
  const std::uint64_t length = fs::file_size(attached, ec);
  if (ec) return fail("'" + inputs.attached_data.string() + "': " + ec.message());
  // The assembler reads the data by a plain relative name in the scratch
  // folder, whatever characters the real path holds.
  fs::create_symlink(attached, work / "attached.bin", ec);
  if (ec) return fail("'" + (work / "attached.bin").string() + "': " + ec.message());

  if (Result r = write_file(work / "constants.cpp", constants_source(inputs.constants, inputs.command)); !r) return r;
  if (Result r = write_file(work / "attached.S", attached_data_source("attached.bin", length)); !r) return r;
  if (Result r = write_file(work / "resources.res", inputs.resources); !r) return r;

  const std::string prefix = toolchain_prefix();
  const std::string cxx = prefix + "g++";
  const std::vector<std::vector<std::string>> steps = {
      {cxx, "-c", "-O2", "-fno-ident", "-I" + (library_dir / "include").string(), "-o", "constants.o",
       "constants.cpp"},
      {cxx, "-c", "-o", "attached.o", "attached.S"},
      {prefix + "windres", "-J", "res", "-O", "coff", "-i", "resources.res", "-o", "resources.o"},
      // GUI subsystem and wide entry point; no symbols and no link time stamp,
      // so the same inputs give the same bytes.
      // The entry point lives in the launcher library; the runtime asks for it
      // only after the library has been scanned, so it is named up front.
      {cxx, "-municode", "-mwindows", "-static", "-s", "-Wl,--no-insert-timestamp", "-Wl,--undefined=wWinMain", "-o",
       fs::absolute(output).string(), "constants.o", "attached.o", "resources.o", "-L" + library_dir.string(),
       "-lquorin_launcher", "-lzstd", "-lz", "-lshell32"},
  };
  for (const auto& step : steps) {
    if (Result r = run_tool(step, work); !r) return r;
  }
  return ok();
}

}  // namespace quorin::packer
