// The packer's system layer on Linux and other POSIX systems: files, paths,
// the terminal and the interrupt handler. Talks to the system.
#include "packer/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <string>

#include "packer/exit_status.h"

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

bool process_running(unsigned long pid) {
  // kill(0, ...) and kill(-1, ...) would mean groups of processes.
  if (pid == 0 || pid > static_cast<unsigned long>(std::numeric_limits<pid_t>::max())) return false;
  // Signal 0 only asks; EPERM is a process that exists but is not ours.
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

namespace {

// The partial output as the signal handler removes it: a directory opened
// once the file is made, and the file's name in it. unlinkat takes no path
// longer than one name, so the file goes whatever the whole path's length
// (a fixed path buffer left a path too long for it behind).
struct PartialFile {
  int directory = AT_FDCWD;  // AT_FDCWD when the folder could not be opened
  std::string name;          // within directory, or else the whole path
};

// Swapped whole, so that the handler, on whichever thread it runs, sees
// either the old record or the new one.
std::atomic<PartialFile*> g_partial{nullptr};
volatile std::sig_atomic_t g_line_open = 0;
static_assert(std::atomic<PartialFile*>::is_always_lock_free, "the signal handler reads it");

#ifdef O_PATH
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs search permission only
#else
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// The folder opened one component at a time, so that no call is handed more
// than one name; -1 when any step fails.
int open_directory(const std::filesystem::path& folder) {
  int fd = ::open(folder.is_absolute() ? "/" : ".", kDirectoryFlags);
  for (const std::filesystem::path& part : folder.relative_path()) {
    if (fd < 0 || part.empty()) continue;  // a trailing separator gives an empty part
    const int next = ::openat(fd, part.c_str(), kDirectoryFlags);
    ::close(fd);
    fd = next;
  }
  return fd;
}

PartialFile* partial_record(const std::filesystem::path& partial) {
  auto* record = new PartialFile;
  const int directory = open_directory(partial.parent_path());
  if (directory >= 0) {
    record->directory = directory;
    record->name = partial.filename().string();
  } else {
    record->name = partial.string();
  }
  return record;
}

void free_record(PartialFile* record) {
  if (record == nullptr) return;
  if (record->directory >= 0) ::close(record->directory);
  delete record;
}

void write_text(const char* text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

// Only async-signal-safe calls: unlinkat, write, _exit (the name's c_str()
// reads a pointer).
void on_interrupt(int) {
  if (const PartialFile* partial = g_partial.load(); partial != nullptr) {
    ::unlinkat(partial->directory, partial->name.c_str(), 0);
  }
  if (g_line_open) write_text("\n");
  write_text("quorin-pack: interrupted\n");
  _exit(kExitInterrupted);
}

}  // namespace

bool watch_for_interrupts() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

void remove_on_interrupt(const std::filesystem::path& partial) {
  // Made before either signal is held: opening the folder takes system calls.
  PartialFile* record = partial.empty() ? nullptr : partial_record(partial);
  // Held while the record changes, so that the handler never runs on this
  // thread between the swap and the old record's release. (A handler on a
  // compression thread that took the old record just before the swap could
  // find it released: a window of a few instructions, against a key press.)
  sigset_t held, previous;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &held, &previous);
  PartialFile* old = g_partial.exchange(record);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  free_record(old);
}

void note_progress_line(bool open) { g_line_open = open ? 1 : 0; }

std::FILE* create_output_file(const std::filesystem::path& path, FileKind kind) {
  // The mode applies only to a file that open creates; open_partial has
  // removed an earlier partial file of this name first.
  const mode_t mode = kind == FileKind::kProgram ? 0777 : 0666;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w+b");
  if (file == nullptr) {
    const int err = errno;
    ::close(fd);
    errno = err;
  }
  return file;
}

}  // namespace quorin::packer
