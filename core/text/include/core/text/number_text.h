// Decimal numbers in text: the one reader every part of the program turns
// text into an integer with. Each caller states its rules (which blanks may
// lead, whether a sign may, whether the number must be the whole text, what
// a value out of range becomes) instead of keeping a loop of its own; what
// a failure means is the caller's, through value_or.
//
// Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace torvane {

// The blanks that may stand before the sign or the digits.
enum class LeadingBlanks {
  kNone,
  kSpaces,         // ' '
  kSpacesAndTabs,  // ' ', '\t'
  kAnyWhiteSpace,  // ' ', '\t', '\n', '\v', '\f', '\r'
};

struct NumberRules {
  LeadingBlanks blanks = LeadingBlanks::kNone;
  // One '+' or '-' before the digits.
  bool sign = false;
  // The digits at the start are the number and whatever follows them is
  // left alone; otherwise the number must be the whole text.
  bool leading = false;
  // A value beyond [low, high] (however many digits) is the bound it passed;
  // otherwise it is no number.
  bool saturate = false;
};

// The number at the start of `text` under `rules`, within [low, high]. None
// when there are no digits where the rules expect them (an empty text, a
// lone sign, a blank not allowed), when a whole number has trailing bytes,
// or when the value is out of range and does not saturate. `end`, when
// given, receives the index just past the last digit read (left alone on
// failure).
std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t low, std::int64_t high,
                                         const NumberRules& rules = {}, std::size_t* end = nullptr);

}  // namespace torvane
