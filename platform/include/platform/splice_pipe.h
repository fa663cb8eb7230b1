// Received bytes moved from a socket into a file inside the kernel: the
// socket's pages go into a pipe and from the pipe into the file at an
// absolute offset, so no byte is copied through the program's memory and
// nothing is held there between the two steps.
//
// One pipe serves every socket of the thread that owns it, one move at a
// time: a move empties it again before it returns. Not for sharing between
// threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

namespace torvane::platform {

// True when `handle` is a regular file, which takes bytes from a pipe.
bool file_takes_splice(FileHandle handle);

// What one move did.
struct SpliceMove {
  // Bytes taken from the socket (> 0), 0 when the peer closed, or one of
  // socket_recv's kRecvWouldBlock, kRecvInterrupted, kRecvReset,
  // kRecvError; kSpliceUnsupported when this socket cannot feed a pipe.
  long got = 0;
  // Of those, the bytes that reached the file, and file_write_at's result
  // for the rest (0, kDiskFull or -1, last_error_text() telling why). Bytes
  // that did not reach the file are dropped.
  std::size_t written = 0;
  int write_result = 0;
  // The file took no bytes from the pipe (its file system cannot): these
  // went through a buffer instead, and later moves should not be tried.
  bool file_refused = false;
};
constexpr long kSpliceUnsupported = -5;

class SplicePipe {
 public:
  SplicePipe() = default;
  ~SplicePipe() { close(); }
  SplicePipe(const SplicePipe&) = delete;
  SplicePipe& operator=(const SplicePipe&) = delete;

  // Moves at most `size` bytes that wait on socket `fd` (non-blocking: it
  // never waits for more) into `file` at `offset`. At most the pipe's
  // capacity (about 1 MiB) moves per call.
  SpliceMove move(std::int32_t fd, FileHandle file, std::uint64_t offset, std::size_t size);

 private:
  bool open();
  void close();
  // Writes the pipe's next bytes, up to `total` counted in `written`, at
  // `offset` with ordinary writes: file_write_at's result.
  int copy_out(FileHandle file, std::uint64_t offset, std::size_t total, std::size_t& written);

  int read_end_ = -1;
  int write_end_ = -1;
  std::size_t capacity_ = 0;
};

}  // namespace torvane::platform
