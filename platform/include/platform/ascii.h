// Byte-wise ASCII case rules shared by every layer. Texts are 8-bit and
// scanned byte by byte; only A-Z fold, so UTF-8 bytes pass through unchanged.
#pragma once

#include <string_view>

namespace torvane {

constexpr char lower_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equal_ci(char a, char b) {
  return lower_ascii(a) == lower_ascii(b);
}

constexpr bool equal_ci(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!equal_ci(a[i], b[i])) return false;
  return true;
}

}  // namespace torvane
