// The engine's one reader of decimal numbers in protocol text: lengths,
// ranges, status codes and ports all go through it, so overflow and stray
// characters are handled alike everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace torvane::engine {

inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the digits of `text` from `at` on, moving `at` past them. False when
// there are none or the number exceeds `limit` (`at` then points at the digit
// that made it too large).
inline bool read_decimal(std::string_view text, std::size_t& at, std::uint64_t limit,
                         std::uint64_t& value) {
  const std::size_t begin = at;
  value = 0;
  for (; at < text.size() && is_digit(text[at]); ++at) {
    const auto digit = static_cast<std::uint64_t>(text[at] - '0');
    if (digit > limit || value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return at > begin;
}

}  // namespace torvane::engine
