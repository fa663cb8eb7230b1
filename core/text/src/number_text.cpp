// Decimal numbers in text.
#include "core/text/number_text.h"

#include <limits>

namespace torvane {
namespace {

bool is_leading_blank(char c, LeadingBlanks blanks) {
  switch (blanks) {
    case LeadingBlanks::kNone:
      return false;
    case LeadingBlanks::kSpaces:
      return c == ' ';
    case LeadingBlanks::kSpacesAndTabs:
      return c == ' ' || c == '\t';
    case LeadingBlanks::kAnyWhiteSpace:
      return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  }
  return false;
}

}  // namespace

std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t low, std::int64_t high,
                                         const NumberRules& rules, std::size_t* end) {
  std::size_t i = 0;
  while (i < text.size() && is_leading_blank(text[i], rules.blanks)) ++i;
  bool negative = false;
  if (rules.sign && i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i++] == '-';
  }
  const std::size_t digits_at = i;
  // A magnitude past the 64-bit range stays at its top; the digits after
  // that are still read, as they still belong to the number.
  constexpr std::uint64_t kTop = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    magnitude = magnitude > (kTop - digit) / 10 ? kTop : magnitude * 10 + digit;
  }
  if (i == digits_at || (!rules.leading && i != text.size())) return std::nullopt;

  // Compared as magnitudes, so that no value needs to fit 64 signed bits.
  std::int64_t value = 0;
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
  if (negative) {
    const std::uint64_t floor_magnitude = low >= 0 ? 0 : static_cast<std::uint64_t>(-(low + 1)) + 1;
    if (magnitude > floor_magnitude) {
      if (!rules.saturate) return std::nullopt;
      value = low;
    } else {
      value = magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
    }
  } else if (magnitude > kMaxPositive) {
    if (!rules.saturate) return std::nullopt;
    value = high;
  } else {
    value = static_cast<std::int64_t>(magnitude);
  }
  if (value < low || value > high) {
    if (!rules.saturate) return std::nullopt;
    value = value < low ? low : high;
  }
  if (end != nullptr) *end = i;
  return value;
}

}  // namespace torvane
