// A tmpfs of a chosen size mounted on a folder for the length of a test, so
// that writes meet a disk that is really full. Mounting needs root (or
// CAP_SYS_ADMIN); when it cannot be had, why_not() says why, for the skip.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace torvane::test {

class SmallDisk {
 public:
  // `folder` must exist and stay until the destructor has unmounted it.
  SmallDisk(std::string folder, std::size_t bytes) : folder_(std::move(folder)) {
    if (::geteuid() != 0) {
      why_not_ = "mounting a small tmpfs needs root";
    } else if (::mount("tmpfs", folder_.c_str(), "tmpfs", 0, size_option(bytes).c_str()) != 0) {
      why_not_ = "tmpfs mount refused: " + std::string(std::strerror(errno));
    } else {
      mounted_ = true;
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why_not() const { return why_not_; }

  // Gives the mounted disk `bytes` of room, keeping its files.
  bool resize(std::size_t bytes) {
    return mounted_ &&
           ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_REMOUNT, size_option(bytes).c_str()) == 0;
  }

 private:
  static std::string size_option(std::size_t bytes) { return "size=" + std::to_string(bytes); }

  std::string folder_;
  bool mounted_ = false;
  std::string why_not_;
};

}  // namespace torvane::test
