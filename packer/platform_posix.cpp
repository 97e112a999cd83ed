// The packer's system layer on Linux and other POSIX systems.
#include "packer/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
    void* p = ::mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE, fd, 0);
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

}  // namespace quorin::packer
