// Host test support: scratch folders, files and running quorin-pack.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorin::host_testing {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed at the end.
struct ScratchDir {
  fs::path path;
  explicit ScratchDir(const std::string& name) {
    path = fs::temp_directory_path() / ("quorin-host-test-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

inline void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string shell_quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs quorin-pack with args; stdout and stderr collected apart.
inline RunResult run_pack(const std::vector<std::string>& args, const fs::path& scratch) {
  std::string command = shell_quoted(QUORIN_PACK);
  for (const std::string& arg : args) command += " " + shell_quoted(arg);
  const fs::path out = scratch / ".pack-out", err = scratch / ".pack-err";
  command += " >" + shell_quoted(out.string()) + " 2>" + shell_quoted(err.string()) + " </dev/null";
  const int status = std::system(command.c_str());
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(out);
  result.err = read_file(err);
  fs::remove(out);
  fs::remove(err);
  return result;
}

}  // namespace quorin::host_testing
