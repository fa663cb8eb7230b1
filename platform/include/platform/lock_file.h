// An exclusive lock held through a small file beside what it guards, for as
// long as the process keeps it: two processes that work on the same queue in
// one folder would download the same items twice. The file holds the
// holder's process id, so that the one that is refused can name it.
#pragma once

#include <string>

namespace torvane::platform {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock of `path` without waiting, creating the file. 0 when it
  // is held now; 1 when another process holds it (`holder` is its process
  // id, 0 when unknown); -1 when the file cannot be made or locked (the
  // reason is last_error_text()).
  int acquire(const std::string& path, int* holder = nullptr);
  // Removes the file and lets the lock go; nothing when not held.
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace torvane::platform
