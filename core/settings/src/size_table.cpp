// The file-size table.
#include "core/settings/size_table.h"

#include <climits>
#include <cstdint>

#include "core/text/number_text.h"
#include "platform/ascii.h"
#include "platform/ini.h"

namespace torvane {
namespace {

// One "%lld" conversion at `pos`; false when no digits follow.
bool scan_int(std::string_view text, std::size_t& pos, std::int64_t& value) {
  constexpr NumberRules kRules{
      .blanks = LeadingBlanks::kAnyWhiteSpace, .sign = true, .leading = true, .saturate = true};
  std::size_t end = 0;
  const std::optional<std::int64_t> n =
      parse_number(text.substr(pos), INT64_MIN, INT64_MAX, kRules, &end);
  if (!n) return false;
  value = *n;
  pos += end;
  return true;
}

}  // namespace

SizeRange parse_range(std::string_view text) {
  SizeRange r;
  std::size_t pos = 0;
  if (!scan_int(text, pos, r.lo)) return r;
  if (pos < text.size() && text[pos] == '-') {
    ++pos;
    scan_int(text, pos, r.hi);
  }
  return r;
}

std::string format_range(const SizeRange& range) {
  std::string text = std::to_string(range.lo) + "-";
  if (range.hi != 0) text += std::to_string(range.hi);
  return text;
}

bool range_matches(const SizeRange& range, std::uint64_t size) {
  const auto lo = static_cast<std::uint64_t>(range.lo);
  const auto hi = static_cast<std::uint64_t>(range.hi);
  return lo <= size && (hi == 0 || size <= hi);
}

std::optional<int> divisions_for_size(const IniAccess& ini, std::uint64_t size) {
  if (size == 0 || !ini.has_path()) return std::nullopt;
  // The whole key list: a fixed read limit would silently drop later rows.
  for (const std::string& key : ini.list_keys(kDivideSection)) {
    if (!range_matches(parse_range(key), size)) continue;
    const int count = ini.read_int(kDivideSection, key, kUseItemDivisions);
    if (count != kUseItemDivisions) return count;
  }
  return std::nullopt;
}

std::vector<SizeRow> read_size_table(const IniAccess& ini) {
  std::vector<SizeRow> rows;
  for (std::string& key : ini.list_keys(kDivideSection)) {
    const int count = ini.read_int(kDivideSection, key, kUseItemDivisions);
    rows.push_back(SizeRow{std::move(key), count});
  }
  return rows;
}

int write_size_table(const IniAccess& ini, const std::vector<SizeRow>& rows) {
  std::vector<SizeRow> merged;
  for (const SizeRow& row : rows) {
    if (!platform::ini_key_allowed(row.range)) return 0;
    bool found = false;
    for (SizeRow& m : merged) {
      if (equal_ci(m.range, row.range)) {
        m.count = row.count;
        found = true;
        break;
      }
    }
    if (!found) merged.push_back(row);
  }
  std::vector<std::string> lines;
  for (const SizeRow& row : merged) lines.push_back(row.range + "=" + std::to_string(row.count));
  return ini.write_section(kDivideSection, lines);
}

int apply_range_edit(SizeRow& row, std::string_view range_text, int count) {
  const SizeRange old_range = parse_range(row.range);
  const SizeRange new_range = parse_range(range_text);
  const bool range_changed = old_range.lo != new_range.lo || old_range.hi != new_range.hi;
  if (!range_changed && count == row.count) return 0;
  row.range = format_range(new_range);
  row.count = count;
  return 1;
}

int range_edit_count(std::string_view typed, bool use_item_divisions) {
  if (use_item_divisions) return kUseItemDivisions;
  constexpr NumberRules kRules{.blanks = LeadingBlanks::kSpaces, .sign = true};
  return static_cast<int>(parse_number(typed, INT_MIN, INT_MAX, kRules).value_or(0));
}

}  // namespace torvane
