#include "platform/splice_pipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/socket.h"

namespace torvane::platform {
namespace {

// A pipe as large as an unprivileged process may make it by default: one
// move then takes what a fast loopback connection has queued.
constexpr int kWantedCapacity = 1 << 20;

// EINVAL: the socket takes no splice (the caller reads it the ordinary way).
long receive_error() {
  return errno == EINVAL ? kSpliceUnsupported : recv_error_code(errno);
}

}  // namespace

bool file_takes_splice(FileHandle handle) {
  struct stat st {};
  return handle > 0 && ::fstat(static_cast<int>(handle), &st) == 0 && S_ISREG(st.st_mode) &&
         (::fcntl(static_cast<int>(handle), F_GETFL) & O_APPEND) == 0;
}

bool SplicePipe::open() {
  if (read_end_ >= 0) return true;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  read_end_ = ends[0];
  write_end_ = ends[1];
  // A smaller pipe still works, only in smaller steps.
  const int size = ::fcntl(write_end_, F_SETPIPE_SZ, kWantedCapacity);
  capacity_ = static_cast<std::size_t>(size > 0 ? size : ::fcntl(write_end_, F_GETPIPE_SZ));
  return true;
}

int SplicePipe::copy_out(FileHandle file, std::uint64_t offset, std::size_t total,
                         std::size_t& written) {
  char block[64 * 1024];
  while (written < total) {
    const ssize_t n = ::read(read_end_, block, std::min(sizeof block, total - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    std::size_t put = 0;
    const int result = file_write_at(file, block, static_cast<std::size_t>(n), offset, &put);
    written += put;
    offset += put;
    if (result != 0) return result;
  }
  return 0;
}

void SplicePipe::close() {
  if (read_end_ >= 0) ::close(read_end_);
  if (write_end_ >= 0) ::close(write_end_);
  read_end_ = write_end_ = -1;
  capacity_ = 0;
}

SpliceMove SplicePipe::move(std::int32_t fd, FileHandle file, std::uint64_t offset,
                            std::size_t size) {
  SpliceMove result;
  if (!open()) {
    result.got = kSpliceUnsupported;
    return result;
  }
  const ssize_t in = ::splice(fd, nullptr, write_end_, nullptr, std::min(size, capacity_),
                              SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  if (in <= 0) {
    result.got = in == 0 ? 0 : receive_error();
    return result;
  }
  result.got = in;
  const std::size_t total = static_cast<std::size_t>(in);
  loff_t at = static_cast<loff_t>(offset);
  while (result.written < total) {
    const ssize_t out =
        ::splice(read_end_, nullptr, static_cast<int>(file), &at, total - result.written, 0);
    if (out > 0) {
      result.written += static_cast<std::size_t>(out);
      continue;
    }
    if (out < 0 && errno == EINTR) continue;
    if (out < 0 && (errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS)) {
      // A file system that takes no pipe: these bytes go the ordinary way.
      result.file_refused = true;
      result.write_result = copy_out(file, static_cast<std::uint64_t>(at), total, result.written);
    } else {
      if (out == 0) errno = ENOSPC;  // the file took nothing of a non-empty pipe
      result.write_result = (errno == ENOSPC || errno == EDQUOT) ? kDiskFull : -1;
    }
    break;
  }
  if (result.written < total) {
    // What the file refused must not reach the next move's file: a fresh
    // pipe starts empty.
    const int saved = errno;
    close();
    errno = saved;
  }
  return result;
}

}  // namespace torvane::platform
