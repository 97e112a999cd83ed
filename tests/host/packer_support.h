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

// Bytes a compressor cannot shrink, the same on every run.
inline std::string noise(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    c = static_cast<char>(seed);
  }
  return out;
}

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

inline std::uint32_t stored_checksum_of(const std::string& data) {
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
                          static_cast<uInt>(data.size()));
  return crc == 0 ? 1 : static_cast<std::uint32_t>(crc);
}

inline void put_le(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

struct Entry {
  std::u16string name;
  std::string data;
  std::optional<std::uint32_t> stored_checksum;  // default: the right one
};

// The archive: the entries, then the end marker unless left out.
inline std::string archive_bytes(const std::vector<Entry>& entries, bool end_marker = true) {
  std::string out;
  for (const Entry& entry : entries) {
    for (char16_t unit : entry.name) put_le(out, unit, 2);
    put_le(out, 0, 2);
    put_le(out, entry.data.size(), 8);
    put_le(out, entry.stored_checksum.value_or(stored_checksum_of(entry.data)), 4);
    out += entry.data;
  }
  if (end_marker) put_le(out, 0, 2);
  return out;
}

struct FrameOptions {
  int window_log = 17;
  bool content_size = false;
  bool checksum = false;
};

inline std::string zstd_frame(const std::string& content, const FrameOptions& options) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 3);
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, options.window_log);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, options.content_size ? 1 : 0);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, options.checksum ? 1 : 0);
  if (options.content_size) ZSTD_CCtx_setPledgedSrcSize(context, content.size());
  std::string frame(ZSTD_compressBound(content.size()) + 1024, '\0');
  ZSTD_outBuffer out = {frame.data(), frame.size(), 0};
  ZSTD_inBuffer in = {content.data(), content.size(), 0};
  // Streamed, so the frame keeps the window asked for whatever the content's size.
  while (in.pos < in.size) {
    if (ZSTD_isError(ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue))) break;
  }
  for (;;) {
    const std::size_t left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
    if (left == 0 || ZSTD_isError(left)) break;
  }
  ZSTD_freeCCtx(context);
  frame.resize(out.pos);
  return frame;
}

// The envelope around a frame: "QZY", the frame, five 0 bytes, the length in front.
inline std::string envelope(const std::string& frame) {
  std::string out = "QZY" + frame + std::string(5, '\0');
  put_le(out, out.size(), 8);
  return out;
}

inline std::string attached_data(const std::string& archive, const FrameOptions& options = {}) {
  return envelope(zstd_frame(archive, options));
}

// Where the blocks of the frame in attached data start (RFC 8878: a 3-byte
// block header, bit 0 last, bits 1-2 type, bits 3-23 size; a raw or
// compressed block's content is "size" bytes long, an RLE block's one byte).
inline std::vector<std::size_t> block_offsets(const std::string& attached) {
  std::vector<std::size_t> offsets;
  const auto byte = [&attached](std::size_t at) { return static_cast<unsigned char>(attached[at]); };
  const unsigned descriptor = byte(3 + 4);
  const bool single_segment = (descriptor >> 5) & 1;
  static constexpr unsigned kDictionaryBytes[] = {0, 1, 2, 4};
  static constexpr unsigned kContentSizeBytes[] = {0, 2, 4, 8};
  const unsigned content_size_bytes =
      (descriptor >> 6) == 0 ? (single_segment ? 1 : 0) : kContentSizeBytes[descriptor >> 6];
  std::size_t at = 3 + 4 + 1 + (single_segment ? 0 : 1) + kDictionaryBytes[descriptor & 3] + content_size_bytes;
  for (;;) {
    offsets.push_back(at);
    const std::uint32_t header = byte(at) | (byte(at + 1) << 8) | (byte(at + 2) << 16);
    const unsigned type = (header >> 1) & 3;
    at += 3 + (type == 1 ? 1 : header >> 3);
    if (header & 1) break;
  }
  return offsets;
}

}  // namespace quorin::packer_test
