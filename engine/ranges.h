// Division arithmetic: how a file is cut into byte ranges and how an item's
// one receive buffer is cut into per-division shares. Plain functions over
// plain arrays; no allocation, no I/O.
#pragma once

#include <cstdint>

namespace torvane::engine {

// Every share holds at least this many bytes.
constexpr std::uint32_t kMinShare = 8192;

// Length of division i of a file of `file_size` bytes in n divisions: the
// first (file_size mod n) divisions are one byte longer. A size of 0 gives
// 0, which means "open end".
std::uint64_t range_length(std::uint64_t file_size, int n, int i);

// Start of division i in the file: the sum of the ranges before it.
std::uint64_t division_start(const std::uint64_t* range_len, int i);

// buffer_size raised to at least n * kMinShare (unsigned comparison, so a
// negative size is already "large").
std::int32_t raised_buffer_size(std::int32_t buffer_size, int n);

// Share starts inside `block` of `size` bytes for n divisions.
void cut_shares(char* block, std::uint32_t size, int n, char** buf_ptr);

// Bytes that division i's share can hold.
std::uint32_t share_capacity(char* const* buf_ptr, int n, std::uint32_t size, int i);

}  // namespace torvane::engine
