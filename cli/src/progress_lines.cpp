#include "cli/progress_lines.h"

#include <algorithm>
#include <cmath>

#include "core/text/progress_text.h"
#include "core/text/text_util.h"
#include "core/text/url_parse.h"

namespace torvane::cli {
namespace {

// A redirect or a link jump changes an item's URL while it runs; its serial
// stays.
std::string item_key(const RowSnapshot& row) {
  if (row.serial != 0) return "#" + std::to_string(row.serial);
  return row.url + '\n' + row.save_folder;
}

// Terminal columns of a UTF-8 lead byte: the status words and Japanese file
// names are three-byte characters that take two columns; continuation bytes
// take none.
std::size_t columns_of(unsigned char c) {
  if (c < 0x80) return 1;
  if (c < 0xC0) return 0;
  return c < 0xE0 ? 1 : 2;
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (const char c : text) width += columns_of(static_cast<unsigned char>(c));
  return width;
}

// `text` cut to `width` columns at a character boundary (marked with '~'
// when cut) and padded with blanks to exactly `width`.
std::string fit(std::string_view text, std::size_t width) {
  std::string out;
  if (display_width(text) <= width) {
    out = text;
  } else {
    std::size_t used = 0, end = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const std::size_t w = columns_of(static_cast<unsigned char>(text[i]));
      if (w > 0 && used + w > width - 1) break;
      used += w;
      end = i + 1;
    }
    out = std::string(text.substr(0, end)) + "~";
  }
  out.append(width - display_width(out), ' ');
  return out;
}

// `text` cut to `width` display columns at a character boundary.
std::string cut_to(std::string_view text, std::size_t width) {
  if (display_width(text) <= width) return std::string(text);
  std::size_t used = 0, end = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t w = columns_of(static_cast<unsigned char>(text[i]));
    if (w > 0 && used + w > width) break;
    used += w;
    end = i + 1;
  }
  return std::string(text.substr(0, end));
}

// "<done> / <size> <pct>%", "<speed>/s" and "ETA <left>", the parts that
// are known, most wanted first.
std::vector<std::string> figures(std::uint64_t done, std::uint64_t size, double rate) {
  std::vector<std::string> parts{size_text(done)};
  if (size > 0) {
    const std::uint64_t percent = std::min<std::uint64_t>(100, done * 100 / size);
    parts[0] += " / " + size_text(size) + " " + std::to_string(percent) + "%";
  }
  parts.push_back(size_text(static_cast<std::uint64_t>(rate)) + "/s");
  if (size > 0) parts.push_back("ETA " + duration_text(eta_seconds(done, size, rate)));
  return parts;
}

// `parts` joined by two blanks, as many from the first as fit `width`
// columns after `lead` (always the first one).
std::string fitting_parts(const std::string& lead, const std::vector<std::string>& parts,
                          std::size_t width) {
  std::string line = lead;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string next = "  " + parts[i];
    if (i > 0 && display_width(line) + display_width(next) > width) break;
    line += next;
  }
  return cut_to(line, width);
}

}  // namespace

std::string size_text(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  // Three figures from MiB up: 1.00 GiB, 12.3 MiB; KiB with one decimal.
  return format_text(value < 10 && unit >= 1 ? "%.2f %s" : "%.1f %s", value, kUnits[unit]);
}

std::string duration_text(std::optional<std::uint64_t> seconds) {
  if (!seconds) return "--:--";
  const std::uint64_t h = *seconds / 3600, m = *seconds / 60 % 60, sec = *seconds % 60;
  if (h > 0)
    return format_text("%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                       static_cast<unsigned long long>(m), static_cast<unsigned long long>(sec));
  return format_text("%llu:%02llu", static_cast<unsigned long long>(m),
                     static_cast<unsigned long long>(sec));
}

std::optional<std::uint64_t> eta_seconds(std::uint64_t done, std::uint64_t size,
                                         double bytes_per_second) {
  if (size == 0) return std::nullopt;
  if (done >= size) return 0;
  if (!(bytes_per_second >= 1)) return std::nullopt;
  return static_cast<std::uint64_t>(std::ceil(static_cast<double>(size - done) / bytes_per_second));
}

RowSnapshot snapshot_row(const ListItem& item) {
  return {item.state,       item.file_name,  item.progress,         item.speed,
          item.save_folder, item.url,        item.serial,           item.reason,
          item.done_bytes,  item.size_bytes, item.bytes_per_second, item.start_tick};
}

std::vector<RowSnapshot> snapshot_rows(const ItemList& items) {
  std::vector<RowSnapshot> rows;
  rows.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ListItem* item = items.at(static_cast<std::int64_t>(i));
    if (item != nullptr) rows.push_back(snapshot_row(*item));
  }
  return rows;
}

bool is_running(int state) {
  return state >= kInitialising && state <= kDownloading;
}

std::string progress_line(const RowSnapshot& row, std::uint32_t now_ms, std::size_t width) {
  std::vector<std::string> parts = figures(row.done_bytes, row.size_bytes, row.bytes_per_second);
  parts.push_back(duration_text((now_ms - row.start_tick) / 1000));
  std::size_t tail = 0;
  for (const std::string& part : parts) tail += 2 + display_width(part);
  // The name takes what the state word and the figures leave, 8 columns at
  // least; on a narrower terminal the last figures give way first.
  const std::size_t fixed = 9 + tail;
  const std::size_t name_width = width > fixed + 8 ? width - fixed : 8;
  std::string lead = fit(item_state_word(row.state), 8) + " " + fit(row.file_name, name_width);
  while (!lead.empty() && lead.back() == ' ') lead.pop_back();
  return fitting_parts(lead, parts, width);
}

std::string totals_line(const std::vector<RowSnapshot>& rows, const RunCounts& counts,
                        std::uint32_t run_ms, std::size_t width) {
  std::uint64_t done = 0, size = 0;
  double rate = 0;
  bool sized = true;
  for (const RowSnapshot& row : rows) {
    if (row.state == kFailed || row.state == kFinished) continue;
    done += row.done_bytes;
    size += row.size_bytes;
    sized = sized && row.size_bytes > 0;
    if (is_running(row.state)) rate += row.bytes_per_second;
  }
  const std::string lead = std::to_string(counts.running) + " running, " +
                           std::to_string(counts.waiting) + " waiting, " +
                           std::to_string(counts.done) + " done, " + std::to_string(counts.failed) +
                           " failed";
  std::vector<std::string> parts = figures(done, sized ? size : 0, rate);
  parts.push_back(duration_text(run_ms / 1000));
  return fitting_parts(lead, parts, width);
}

std::vector<std::string> running_lines(const std::vector<RowSnapshot>& rows, std::uint32_t now_ms,
                                       std::size_t width) {
  std::vector<std::string> lines;
  for (const RowSnapshot& row : rows) {
    if (is_running(row.state)) lines.push_back(progress_line(row, now_ms, width));
  }
  return lines;
}

std::string erase_block(std::size_t previous) {
  // Up `previous` lines, to column 1, then clear to the end of the screen.
  if (previous == 0) return "\r\x1b[J";
  return "\x1b[" + std::to_string(previous) + "A\r\x1b[J";
}

std::map<std::string, int> states_by_item(const std::vector<RowSnapshot>& rows) {
  std::map<std::string, int> states;
  for (const RowSnapshot& row : rows) states[item_key(row)] = row.state;
  return states;
}

void RunRecord::observe(const std::vector<RowSnapshot>& rows) {
  for (const RowSnapshot& row : rows) {
    const std::string key = item_key(row);
    auto [it, added] = items_.try_emplace(key);
    if (added) order_.push_back(key);
    it->second.url = row.url;
    // The engine's target name replaces the URL's once a start succeeded,
    // and the redirected one once the answer came.
    if (!row.file_name.empty()) it->second.path = row.save_folder + row.file_name;
    it->second.state = row.state;
    if (!row.reason.empty()) it->second.reason = row.reason;
  }
}

void RunRecord::leave_out(const RowSnapshot& row) {
  left_out_.insert(item_key(row));
}

std::vector<RunRecord::Outcome> RunRecord::outcomes(
    const std::vector<RowSnapshot>& final_rows) const {
  const std::map<std::string, int> now = states_by_item(final_rows);
  std::vector<Outcome> out;
  for (const std::string& key : order_) {
    if (left_out_.contains(key)) continue;
    Outcome o = items_.at(key);
    const auto it = now.find(key);
    o.state = it == now.end() ? kFinished : it->second;
    out.push_back(std::move(o));
  }
  return out;
}

std::string queue_text(const std::vector<RowSnapshot>& rows) {
  if (rows.empty()) return "nothing is queued here\n";
  std::string text;
  for (const RowSnapshot& row : rows) {
    text += fit(item_state_word(row.state), 8) + " " + row.progress + "  " + row.save_folder +
            row.file_name + "  " + url_for_display(row.url);
    if (!row.reason.empty()) text += ": " + row.reason;
    text += '\n';
  }
  return text;
}

std::string forget_text(std::size_t forgotten, const std::vector<std::string>& partial) {
  std::string text = "forgot " + std::to_string(forgotten) +
                     (forgotten == 1 ? " queued download\n" : " queued downloads\n");
  if (!partial.empty()) text += "these partly downloaded files stay:\n";
  for (const std::string& path : partial) text += "  " + path + "\n";
  return text;
}

RunCounts RunRecord::counts(const std::vector<RowSnapshot>& rows) const {
  RunCounts counts;
  for (const Outcome& o : outcomes(rows)) {
    if (o.state == kFinished) ++counts.done;
    if (o.state == kFailed) ++counts.failed;
    if (o.state == kWaiting || o.state == kResting) ++counts.waiting;
    if (is_running(o.state)) ++counts.running;
  }
  return counts;
}

std::size_t failed_count(const std::vector<RunRecord::Outcome>& outcomes) {
  std::size_t n = 0;
  for (const RunRecord::Outcome& o : outcomes) n += o.state == kFailed ? 1 : 0;
  return n;
}

std::string summary_text(const std::vector<RunRecord::Outcome>& outcomes) {
  std::size_t finished = 0;
  for (const RunRecord::Outcome& o : outcomes) finished += o.state == kFinished ? 1 : 0;
  const std::size_t failed = failed_count(outcomes);
  const std::size_t other = outcomes.size() - finished - failed;
  std::string text = std::to_string(finished) + " finished, " + std::to_string(failed) + " failed";
  if (other > 0) text += ", " + std::to_string(other) + " not done";
  text += '\n';
  for (const RunRecord::Outcome& o : outcomes) {
    text += "  " + fit(item_state_word(o.state), 8) + " " + o.path;
    if (o.state == kFailed) text += "  (" + url_for_display(o.url) + ")";
    if (o.state != kFinished && !o.reason.empty()) text += ": " + o.reason;
    text += '\n';
  }
  return text;
}

}  // namespace torvane::cli
