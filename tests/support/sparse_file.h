// Files of 4 GiB and more for tests, cheap on disk: a sparse file whose only
// written bytes are a few blocks of random bytes (at its start, on both sides
// of the 4 GiB boundary and at its end), with holes that read as zeros
// between them. A download of it writes every byte, so a test deletes its
// result right after checking it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace torvane::test {

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

struct SparseFile {
  std::uint64_t size = 0;
  // Offset and bytes of each written block, in file order.
  std::vector<std::pair<std::uint64_t, std::string>> blocks{};
};

// A file of `size` bytes with 64 KiB of random bytes from `seed` at its
// start, just below and just above 4 GiB, and at its end (each block kept
// inside the file and clear of the ones before it).
SparseFile sparse_layout(std::uint64_t size, std::uint32_t seed);

// Makes the file at `path`: emptied and set to its size, then its blocks
// written. False on failure.
bool make_sparse_file(const std::string& path, const SparseFile& file);

// "" when the file at `path` has the size and every block of `file`, and
// zeros in the middle of each hole between blocks; else what differs.
std::string sparse_difference(const std::string& path, const SparseFile& file);

// `size` bytes at `offset` of the file (fewer at its end), or nothing when
// it cannot be read.
std::optional<std::string> read_at(const std::string& path, std::uint64_t offset, std::size_t size);

// The file's size in bytes, or nothing when it is not there.
std::optional<std::uint64_t> file_size_of(const std::string& path);

}  // namespace torvane::test
