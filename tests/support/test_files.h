// Files for tests: a private temporary folder removed with everything in
// it, whole-file reads and writes, and a way to make writes fail on demand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvane::test {

// A fresh folder under $TMPDIR (or /tmp), removed recursively on
// destruction. path() has no trailing slash.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// The whole file, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path);
// Creates or replaces the file. False on failure.
bool write_file(const std::string& path, std::string_view content);
bool path_exists(const std::string& path);
bool is_folder(const std::string& path);

// Points the open descriptor `handle` at another file (opened for writing),
// so a test can make an owner's writes start or stop failing behind its
// back ("/dev/full" fails every write). False on failure.
bool redirect_descriptor(std::intptr_t handle, const std::string& path);

}  // namespace torvane::test
