// The packer's system layer on Linux and other POSIX systems.
#include "packer/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace quorin::packer {

MappedFile::~MappedFile() {
  if (data != nullptr) munmap(const_cast<unsigned char*>(data), size);
}

Result map_whole_file(const std::filesystem::path& path, MappedFile& file) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("'" + path_text(path) + "': " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return fail("'" + path_text(path) + "': " + std::strerror(err));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail("'" + path_text(path) + "': not a file");
  }
  file.size = static_cast<std::uint64_t>(st.st_size);
  if (file.size > 0) {
    void* p = ::mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      file.size = 0;
      return fail("'" + path_text(path) + "': " + std::strerror(err));
    }
    ::madvise(p, file.size, MADV_SEQUENTIAL);
    file.data = static_cast<const unsigned char*>(p);
  }
  ::close(fd);
  return ok();
}

std::string path_text(const std::filesystem::path& path) { return path.string(); }

std::filesystem::path path_from_text(const std::string& text) { return std::filesystem::path(text); }

std::FILE* open_file(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool seek_file(std::FILE* file, std::uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool progress_terminal() { return isatty(STDERR_FILENO) != 0; }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

namespace {

// Read by the signal handler, which may only make async-signal-safe calls.
char g_partial[4096];
volatile std::sig_atomic_t g_line_open = 0;

void write_text(const char* text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void on_interrupt(int) {
  if (g_partial[0] != '\0') ::unlink(g_partial);
  if (g_line_open) write_text("\n");
  write_text("quorin-pack: interrupted\n");
  _exit(130);
}

}  // namespace

void watch_for_interrupts() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void remove_on_interrupt(const std::filesystem::path& partial) {
  // Both signals are held while the name changes, so the handler never sees half of it.
  sigset_t held, previous;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  sigprocmask(SIG_BLOCK, &held, &previous);
  const std::string text = partial.string();
  const std::size_t n = text.size() < sizeof g_partial ? text.size() : 0;
  std::memcpy(g_partial, text.data(), n);
  g_partial[n] = '\0';
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void note_progress_line(bool open) { g_line_open = open ? 1 : 0; }

std::FILE* create_output_file(const std::filesystem::path& path) { return std::fopen(path.c_str(), "w+b"); }

}  // namespace quorin::packer
