#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace torvane::platform {
namespace {

// Keeps descriptors above the standard three so that a handle is never 0 even
// when the process was started with stdin closed.
int lift_descriptor(int fd) {
  if (fd >= 3 || fd < 0) return fd;
  const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return lifted;
}

}  // namespace

FileHandle file_open_write(const char* path, bool* created) {
  if (created != nullptr) *created = false;
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return 0;
  }
  // An exclusive create first, so the caller learns whether the file is its
  // own; an existing file is then opened as it is.
  bool made = true;
  int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    made = false;
    fd = ::open(path, O_WRONLY | O_CLOEXEC);
    // A dangling link, or a file removed in between: created, but not
    // provably by us, so it counts as existing.
    if (fd < 0 && errno == ENOENT) fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  }
  fd = lift_descriptor(fd);
  if (fd < 0) return 0;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return 0;
  }
  if (created != nullptr) *created = made;
  return static_cast<FileHandle>(fd);
}

int file_close(FileHandle handle) {
  if (handle <= 0) return -1;
  return ::close(static_cast<int>(handle)) == 0 ? 0 : -1;
}

int file_truncate(FileHandle handle, std::uint64_t size) {
  struct stat st {};
  if (handle <= 0 || fstat(static_cast<int>(handle), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) return 0;
  return ::ftruncate(static_cast<int>(handle), static_cast<off_t>(size)) == 0 ? 0 : -1;
}

bool file_is_empty_regular(FileHandle handle) {
  struct stat st {};
  return handle > 0 && fstat(static_cast<int>(handle), &st) == 0 && S_ISREG(st.st_mode) &&
         st.st_size == 0;
}

bool path_names_file(const char* path, FileHandle handle) {
  struct stat by_path {
  }, by_handle{};
  return path != nullptr && handle > 0 && ::stat(path, &by_path) == 0 &&
         fstat(static_cast<int>(handle), &by_handle) == 0 && by_path.st_dev == by_handle.st_dev &&
         by_path.st_ino == by_handle.st_ino;
}

bool same_file(FileHandle a, FileHandle b) {
  struct stat sa {
  }, sb{};
  return a > 0 && b > 0 && fstat(static_cast<int>(a), &sa) == 0 &&
         fstat(static_cast<int>(b), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::int64_t file_size(FileHandle handle) {
  struct stat st {};
  if (handle <= 0 || fstat(static_cast<int>(handle), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

int file_write_at(FileHandle handle, const void* data, std::size_t size, std::uint64_t offset,
                  std::size_t* written) {
  std::size_t done = 0;
  const char* p = static_cast<const char*>(data);
  int result = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(static_cast<int>(handle), p + done, size - done,
                               static_cast<off_t>(offset + done));
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;  // a zero-byte write of a non-empty buffer means no room
    result = (errno == ENOSPC || errno == EDQUOT) ? kDiskFull : -1;
    break;
  }
  if (written != nullptr) *written = done;
  return result;
}

int path_kind(const char* path) {
  struct stat st {};
  if (path == nullptr || *path == '\0' || ::stat(path, &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? 2 : 1;
}

int make_folder(const char* path) {
  return ::mkdir(path, 0755) == 0 ? 0 : -1;
}

int make_parent_folders(const char* path, std::string* part) {
  const std::string_view whole(path);
  // An absolute path starts at its root; a relative one at its first name.
  // Byte scanning is safe: no UTF-8 continuation byte equals '/'.
  for (std::size_t end = whole.find('/', 1); end != std::string_view::npos;
       end = whole.find('/', end + 1)) {
    const std::string prefix(whole.substr(0, end));
    const int kind = path_kind(prefix.c_str());
    if (kind == 2) continue;
    if (part != nullptr) *part = prefix;
    if (kind == 1) return kFileInTheWay;
    if (make_folder(prefix.c_str()) != 0) return -1;
  }
  return 0;
}

int remove_file(const char* path) {
  return ::unlink(path) == 0 ? 0 : -1;
}

int move_no_replace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // File systems without RENAME_NOREPLACE: link() refuses an existing target,
  // which gives the same guarantee for regular files.
  if (::link(from, to) != 0) return -1;
  if (::unlink(from) != 0) {
    const int saved = errno;
    ::unlink(to);
    errno = saved;
    return -1;
  }
  return 0;
}

bool read_whole_file(const char* path, std::string& out) {
  out.clear();
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
      out.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

int write_file_atomic(const char* path, const void* data, std::size_t size, bool synced) {
  std::string tmp = std::string(path) + ".tmp-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return -1;
  // The new file keeps the old one's permissions (0644 for a new file).
  struct stat old {};
  const mode_t mode = ::stat(path, &old) == 0 ? (old.st_mode & 07777) : 0644;
  std::size_t written = 0;
  bool ok = ::fchmod(fd, mode) == 0 && file_write_at(fd, data, size, 0, &written) == 0 &&
            (!synced || ::fsync(fd) == 0);
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tmp.c_str(), path) != 0) {
    const int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return -1;
  }
  return 0;
}

std::string last_error_text() {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not be buf.
  const char* text = strerror_r(errno, buf, sizeof buf);
  return text != nullptr ? std::string(text) : std::string("unknown error");
}

}  // namespace torvane::platform
