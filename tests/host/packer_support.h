// Shared by the packer's host tests: running the real quorin-pack, scratch
// folders under /tmp, and attached data crafted byte by byte with the host's
// libzstd. Touches the file system and starts processes.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/archive_bytes.h"
#include "tests/common/pe_bytes.h"
#include "tests/common/zstd_frame.h"

extern char** environ;

namespace quorin::packer_test {

namespace fs = std::filesystem;

// /tmp/quorin-packer-tests.<pid>: every scratch folder of one test run,
// removed when the run ends.
inline fs::path test_root() { return fs::path("/tmp") / ("quorin-packer-tests." + std::to_string(getpid())); }

inline struct TestRootRemover {
  ~TestRootRemover() {
    std::error_code ec;
    fs::remove_all(test_root(), ec);
  }
} test_root_remover;

// A fresh folder test_root()/<name>, removed with it.
struct Scratch {
  fs::path path;
  explicit Scratch(const std::string& name) {
    path = test_root() / name;
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path operator/(const fs::path& relative) const { return path / relative; }
};

inline void write_file(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct ProgramRun {
  int code = -1;  // the exit code, or -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] with the rest, its output caught in files beside it. extra_env
// entries ("NAME=value") are added to the environment.
inline ProgramRun run_program(const std::vector<std::string>& args, const std::vector<std::string>& extra_env = {}) {
  static int counter = 0;
  const fs::path base = test_root() / "runs";
  fs::create_directories(base);
  const std::string stem = (base / std::to_string(++counter)).string();
  const std::string out_path = stem + ".out", err_path = stem + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) env_strings.emplace_back(*e);
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> env;
  for (std::string& entry : env_strings) env.push_back(entry.data());
  env.push_back(nullptr);
  ProgramRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return run;
}

inline ProgramRun run_pack(std::vector<std::string> args, const std::vector<std::string>& extra_env = {}) {
  args.insert(args.begin(), QUORIN_PACK);
  return run_program(args, extra_env);
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

using test_archive::noise;
using test_archive::program_bytes;

// Text that shrinks well but not to nothing.
inline std::string text(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"quorin ", "launcher ", "archive ", "entry ", "frame ", "window ",
                                       "checksum ", "name ", "data ", "payload ", "\n", "zstd "};
  std::string out;
  while (out.size() < size) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    out += kWords[seed % 12];
  }
  out.resize(size);
  return out;
}

using test_archive::archive_bytes;
using test_archive::block_offsets;
using test_archive::Entry;
using test_archive::envelope;
using test_archive::put_le;
using test_archive::stored_checksum_of;

using test_archive::FrameOptions;
using test_archive::zstd_frame;

inline std::string attached_data(const std::string& archive, const FrameOptions& options = {}) {
  return envelope(zstd_frame(archive, options));
}

}  // namespace quorin::packer_test
