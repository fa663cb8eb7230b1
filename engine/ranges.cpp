#include "engine/ranges.h"

namespace torvane::engine {

std::uint64_t range_length(std::uint64_t file_size, int n, int i) {
  if (n <= 0) return 0;
  const auto count = static_cast<std::uint64_t>(n);
  return file_size / count + (static_cast<std::uint64_t>(i) < file_size % count ? 1u : 0u);
}

std::uint64_t division_start(const std::uint64_t* range_len, int i) {
  std::uint64_t start = 0;
  for (int k = 0; k < i; ++k) start += range_len[k];
  return start;
}

std::int32_t raised_buffer_size(std::int32_t buffer_size, int n) {
  const std::uint64_t minimum = static_cast<std::uint64_t>(n > 0 ? n : 1) * kMinShare;
  if (static_cast<std::uint32_t>(buffer_size) >= minimum) return buffer_size;
  return static_cast<std::int32_t>(minimum);
}

void cut_shares(char* block, std::uint32_t size, int n, char** buf_ptr) {
  if (n <= 0) return;
  const std::uint32_t count = static_cast<std::uint32_t>(n);
  const std::uint32_t r = size % count;
  const std::uint32_t step = (size - r) / count;
  buf_ptr[0] = block;
  for (std::uint32_t i = 1; i < count; ++i) buf_ptr[i] = buf_ptr[i - 1] + step + (i <= r ? 1 : 0);
}

std::uint32_t share_capacity(char* const* buf_ptr, int n, std::uint32_t size, int i) {
  if (n <= 1) return size;
  if (i < n - 1) return static_cast<std::uint32_t>(buf_ptr[i + 1] - buf_ptr[i]);
  return size - static_cast<std::uint32_t>(buf_ptr[n - 1] - buf_ptr[0]);
}

}  // namespace torvane::engine
