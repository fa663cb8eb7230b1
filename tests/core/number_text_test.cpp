// The one number reader, under the rule sets its callers use.
#include "core/text/number_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace torvane {
namespace {

constexpr std::optional<std::int64_t> kNone;  // the row expects no number
constexpr std::int64_t kHistoryCap = 9'999'999'999'999'999;

// An INI integer and a size-table bound: leading, signed, saturated to int.
constexpr NumberRules kIniRules{
    .blanks = LeadingBlanks::kSpacesAndTabs, .sign = true, .leading = true, .saturate = true};
constexpr NumberRules kRangeRules{
    .blanks = LeadingBlanks::kAnyWhiteSpace, .sign = true, .leading = true, .saturate = true};
// A progress size and a FileSize amount: leading digits, no sign.
constexpr NumberRules kSizeRules{
    .blanks = LeadingBlanks::kSpaces, .leading = true, .saturate = true};
// A history size: signed, saturated either way.
constexpr NumberRules kHistoryRules{.sign = true, .leading = true, .saturate = true};
// A command-line count and a series number: the digits and nothing else.
constexpr NumberRules kWholeRules{};

struct Row {
  const char* text;
  NumberRules rules;
  std::int64_t low, high;
  std::optional<std::int64_t> expected;
  std::size_t end;  // where the number ends (rows with a number)
};

TEST(NumberText, EachCallersRules) {
  const Row rows[] = {
      // INI integers
      {"", kIniRules, INT_MIN, INT_MAX, kNone, 0},
      {" \t+12abc", kIniRules, INT_MIN, INT_MAX, 12, 5},
      {"\v5", kIniRules, INT_MIN, INT_MAX, kNone, 0},
      {"-2147483648", kIniRules, INT_MIN, INT_MAX, INT_MIN, 11},
      {"2147483648", kIniRules, INT_MIN, INT_MAX, INT_MAX, 10},
      {"-99999999999999999999999", kIniRules, INT_MIN, INT_MAX, INT_MIN, 24},
      {"00000000000000000000000007", kIniRules, INT_MIN, INT_MAX, 7, 26},
      // size-table bounds take any white space
      {"\n\v\f\r 3-9", kRangeRules, INT_MIN, INT_MAX, 3, 6},
      // sizes: no sign, saturated at 32 bits, "12/40" reads 12
      {"  12/40", kSizeRules, 0, UINT32_MAX, 12, 4},
      {"4294967296", kSizeRules, 0, UINT32_MAX, UINT32_MAX, 10},
      {"\t5", kSizeRules, 0, UINT32_MAX, kNone, 0},
      // history sizes: saturated either way, past the 64-bit range too
      {"-9223372036854775809", kHistoryRules, -kHistoryCap, kHistoryCap, -kHistoryCap, 20},
      // whole numbers: nothing but digits, and within range or nothing
      {"64", kWholeRules, 1, 64, 64, 2},
      {"65", kWholeRules, 1, 64, kNone, 0},
      {" 1", kWholeRules, 1, 64, kNone, 0},
      {"4294967297", kWholeRules, 1, 64, kNone, 0},
      {"999999999999999999", kWholeRules, 0, 999'999'999'999'999'999, 999'999'999'999'999'999, 18},
      // signed whole numbers at the ends of the 64-bit range
      {"-9223372036854775808", {.sign = true}, INT64_MIN, INT64_MAX, INT64_MIN, 20},
      {"9223372036854775808", {.sign = true}, INT64_MIN, INT64_MAX, kNone, 0},
      {"-3", {.sign = true, .saturate = true}, 1, 9, 1, 2},
  };
  for (const Row& row : rows) {
    std::size_t end = 0;
    const std::optional<std::int64_t> n =
        parse_number(row.text, row.low, row.high, row.rules, &end);
    EXPECT_EQ(n, row.expected) << '"' << row.text << '"';
    if (n) {
      EXPECT_EQ(end, row.end) << '"' << row.text << '"';
    }
  }
}

}  // namespace
}  // namespace torvane
