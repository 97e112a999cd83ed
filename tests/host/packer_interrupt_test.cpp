// An interrupt removes the partial output whatever its path's length, and
// ends the packer with exit code 130. The handler ends the process, so each
// case runs in a child process. Touches the file system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "packer/platform.h"
#include "tests/host/packer_support.h"

namespace {

using namespace quorin::packer_test;

// Folders of 200 characters under root, deep enough that a file name after
// them makes a path of `length` bytes, made through folder descriptors: no
// call is handed the whole path, which the system would refuse.
struct DeepFolder {
  std::vector<int> fds;              // root's, then each folder's
  std::vector<std::string> folders;
  std::string path;                  // the deepest folder's
  ~DeepFolder() {
    for (std::size_t i = folders.size(); i-- > 0;) {
      ::close(fds[i + 1]);
      ::unlinkat(fds[i], folders[i].c_str(), AT_REMOVEDIR);
    }
    if (!fds.empty()) ::close(fds[0]);
  }
};

void make_deep_folder(const fs::path& root, std::size_t length, DeepFolder& deep) {
  deep.path = root.string();
  deep.fds.push_back(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  while (length > deep.path.size() + 250) {
    const std::string folder(200, 'd');
    ASSERT_EQ(::mkdirat(deep.fds.back(), folder.c_str(), 0700), 0);
    deep.fds.push_back(::openat(deep.fds.back(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_GE(deep.fds.back(), 0);
    deep.folders.push_back(folder);
    deep.path += "/" + folder;
  }
}

// Exit code of a child that arms the handler for `partial` and is sent SIGTERM.
int interrupted_exit_code(const std::string& partial) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    if (!quorin::packer::watch_for_interrupts()) _exit(2);
    quorin::packer::remove_on_interrupt(partial);
    ::raise(SIGTERM);
    _exit(3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The fault: a fixed buffer of 4,096 bytes took a longer path as no path.
TEST(PackerInterrupt, PartialOutputOfAnyPathLengthIsRemoved) {
  Scratch scratch("interrupt");
  for (const std::size_t length : {std::size_t{0}, std::size_t{4095}, std::size_t{4096}, std::size_t{9000}}) {
    SCOPED_TRACE("a path of " + std::to_string(length) + " bytes");
    DeepFolder deep;
    make_deep_folder(scratch.path, length, deep);
    const std::string name = length == 0 ? "out.exe.partial-1" : std::string(length - deep.path.size() - 1, 'p');
    const std::string partial = deep.path + "/" + name;
    if (length != 0) {
      ASSERT_EQ(partial.size(), length);
    }
    const int fd = ::openat(deep.fds.back(), name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(interrupted_exit_code(partial), 130);
    const bool left = ::faccessat(deep.fds.back(), name.c_str(), F_OK, 0) == 0;
    EXPECT_FALSE(left);
    if (left) ::unlinkat(deep.fds.back(), name.c_str(), 0);
  }
}

}  // namespace
