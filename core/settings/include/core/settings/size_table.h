// The file-size table: section "Divide" of the program INI, one row per key.
// The key is a byte range ("lo-hi", or "lo-" without an upper bound), the
// value a division count (-1: keep the item's own count). The lookup picks
// the division count for a reported size; the editor functions read the table
// into rows and write it back, so that its dialog only draws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings/ini_access.h"

namespace torvane {

inline constexpr std::string_view kDivideSection = "Divide";
inline constexpr int kUseItemDivisions = -1;

// Bounds in bytes, 64-bit: a row may begin or end past 4 GiB.
struct SizeRange {
  std::int64_t lo = 0;
  std::int64_t hi = 0;  // 0: no upper bound
};

// "%lld-%lld" reading: optional blanks and sign, decimal digits (saturated
// to the 64-bit range); a part that is missing or not a number is 0.
SizeRange parse_range(std::string_view text);

// "lo-hi", or "lo-" when hi is 0.
std::string format_range(const SizeRange& range);

// lo <= size and (hi == 0 or size <= hi), compared as unsigned 64-bit numbers,
// so a negative bound acts as a very large one.
bool range_matches(const SizeRange& range, std::uint64_t size);

// The count of the first matching row whose count is not -1, or none (also
// for size 0, which means "not reported"). Reads the whole key list.
std::optional<int> divisions_for_size(const IniAccess& ini, std::uint64_t size);

struct SizeRow {
  std::string range;  // as stored / as formatted
  int count = kUseItemDivisions;
};

// Every row of the table in file order (an absent value reads as -1).
std::vector<SizeRow> read_size_table(const IniAccess& ini);

// Replaces the section with the rows in order, in one write. Rows with the
// same range (compared as the INI compares keys) collapse into the first
// one's place with the later count, as writing them one by one would do.
// 1 written, 0 refused (a range that cannot be a key) or failed.
int write_size_table(const IniAccess& ini, const std::vector<SizeRow>& rows);

// The range editor's OK: parses `range_text` and takes `count`; 1 and the
// row updated (range formatted anew) when the range or the count changed,
// else 0 and the row unchanged.
int apply_range_edit(SizeRow& row, std::string_view range_text, int count);

// The count the range editor's OK passes on: -1 when "設定値" is chosen,
// else the number in its count box as typed, outside 1..64 too (leading
// blanks and a sign allowed, the whole text a number within int); 0 when
// the box holds no such number.
int range_edit_count(std::string_view typed, bool use_item_divisions);

}  // namespace torvane
