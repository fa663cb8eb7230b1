#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace torvane::platform {
namespace {

struct flock whole_file(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return lock;  // start 0, length 0: the whole file
}

// The process that holds the record lock on `fd`, 0 when unknown.
int lock_holder(int fd) {
  struct flock probe = whole_file(F_WRLCK);
  if (::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return probe.l_pid;
  return 0;
}

// True when `path` still names the file open as `fd`: a holder that let go
// removes the file, and a lock taken on the removed file guards nothing.
bool still_named(int fd, const std::string& path) {
  struct stat open_file {
  }, named{};
  return ::fstat(fd, &open_file) == 0 && ::stat(path.c_str(), &named) == 0 &&
         open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace

int FileLock::acquire(const std::string& path, int* holder) {
  if (held()) return 0;
  if (holder != nullptr) *holder = 0;
  // A few rounds at most: each one that loses a race finds the file gone.
  for (int round = 0; round < 5; ++round) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct flock lock = whole_file(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
      const int error = errno;
      const int pid = (error == EACCES || error == EAGAIN) ? lock_holder(fd) : 0;
      ::close(fd);
      if (error != EACCES && error != EAGAIN) {
        errno = error;
        return -1;
      }
      if (holder != nullptr) *holder = pid;
      return 1;
    }
    if (!still_named(fd, path)) {
      ::close(fd);
      continue;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
      // The lock holds without the id; only the refused process's message
      // loses the number.
    }
    fd_ = fd;
    path_ = path;
    return 0;
  }
  return -1;
}

void FileLock::release() {
  if (fd_ < 0) return;
  // Removed while still locked, so that no process locks the old file after
  // this one let go while another makes a new one.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace torvane::platform
