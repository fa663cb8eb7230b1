#include "tests/support/test_files.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace torvane::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/torvane-test-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::optional<std::string> read_file(const std::string& path) {
  // Opened at its end: one allocation of the file's size and one read.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  std::string content(static_cast<std::size_t>(in.tellg()), '\0');
  if (!in.seekg(0).read(content.data(), static_cast<std::streamsize>(content.size())))
    return std::nullopt;
  return content;
}

bool write_file(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(content.data(), static_cast<std::streamsize>(content.size())));
}

bool path_exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

bool is_folder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

bool redirect_descriptor(std::intptr_t handle, const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && ::dup3(fd, static_cast<int>(handle), O_CLOEXEC) >= 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace torvane::test
