#include "tests/support/sparse_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

namespace torvane::test {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

// Closes a descriptor when it goes.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

SparseFile sparse_layout(std::uint64_t size, std::uint32_t seed) {
  SparseFile file{size};
  std::mt19937 random(seed);
  std::uint64_t free_from = 0;
  for (const std::uint64_t wanted :
       {std::uint64_t{0}, kFourGiB - kBlock, kFourGiB, size - kBlock}) {
    const std::uint64_t at = std::max(wanted, free_from);
    if (size < kBlock || at > size - kBlock) continue;
    std::string bytes(kBlock, '\0');
    // Never zero, so a block left unwritten cannot pass for one.
    for (char& c : bytes) c = static_cast<char>(1 + random() % 255);
    file.blocks.emplace_back(at, std::move(bytes));
    free_from = at + kBlock;
  }
  return file;
}

bool make_sparse_file(const std::string& path, const SparseFile& file) {
  const Fd out{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
  if (out.fd < 0 || ::ftruncate(out.fd, static_cast<off_t>(file.size)) != 0) return false;
  for (const auto& [offset, bytes] : file.blocks) {
    if (::pwrite(out.fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(bytes.size()))
      return false;
  }
  return true;
}

std::optional<std::string> read_at(const std::string& path, std::uint64_t offset,
                                   std::size_t size) {
  const Fd in{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (in.fd < 0) return std::nullopt;
  std::string bytes(size, '\0');
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n =
        ::pread(in.fd, bytes.data() + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

std::optional<std::uint64_t> file_size_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::string sparse_difference(const std::string& path, const SparseFile& file) {
  const std::optional<std::uint64_t> size = file_size_of(path);
  if (size != file.size)
    return "size " + (size ? std::to_string(*size) : "none") + ", not " + std::to_string(file.size);
  std::uint64_t hole_from = 0;
  const auto check_hole = [&](std::uint64_t end) -> std::string {
    if (end < hole_from + kBlock) return "";
    const std::uint64_t middle = hole_from + (end - hole_from) / 2 - kBlock / 2;
    if (read_at(path, middle, kBlock) != std::string(kBlock, '\0'))
      return "no zeros at " + std::to_string(middle);
    return "";
  };
  for (const auto& [offset, bytes] : file.blocks) {
    if (std::string hole = check_hole(offset); !hole.empty()) return hole;
    if (read_at(path, offset, bytes.size()) != bytes)
      return "the block at " + std::to_string(offset) + " differs";
    hole_from = offset + bytes.size();
  }
  return check_hole(file.size);
}

}  // namespace torvane::test
