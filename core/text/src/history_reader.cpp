// Reading the download history.
#include "core/text/history_reader.h"

#include <cstdio>

#include "core/text/number_text.h"
#include "platform/ascii.h"
#include "platform/file.h"

namespace torvane {
namespace {

bool is_separator(char c) {
  return c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

int column_of(std::string_view key) {
  static constexpr std::string_view kKeys[kHistoryColumnCount] = {
      "Date", "Filename", "FileSize", "Divide", "Speed", "Time", "Save", "URL"};
  for (int c = 0; c < kHistoryColumnCount; ++c) {
    if (equal_ci(key, kKeys[c])) return c;
  }
  return -1;
}

// Leading decimal number of a FileSize value (sign allowed); 0 without
// digits. Sizes of 16 digits or fewer count as written and longer ones as
// the largest of those, so that the total of any history stays in range.
std::int64_t leading_number(std::string_view text) {
  constexpr std::int64_t kCap = 9'999'999'999'999'999LL;
  constexpr NumberRules kRules{
      .blanks = LeadingBlanks::kSpaces, .sign = true, .leading = true, .saturate = true};
  return parse_number(text, -kCap, kCap, kRules).value_or(0);
}

class Parser {
 public:
  HistoryList run(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char b = text[i];
      if (in_value_) {
        if (is_separator(b)) {
          end_value();
          separator(b);
        } else if (value_.size() < kHistoryMaxValue) {
          value_.push_back(b);
        } else {
          value_too_long_ = true;
        }
      } else if (b == ':' && i + 1 < text.size() && text[i + 1] == ' ') {
        ++i;
        in_value_ = true;
        value_.clear();
        value_too_long_ = false;
        window_.clear();
      } else if (is_separator(b)) {
        // A line without ": " is passed over; its breaks may still close the
        // record.
        key_.clear();
        key_too_long_ = false;
        separator(b);
      } else {
        window_.clear();
        if (key_.size() < kHistoryMaxKey) {
          key_.push_back(b);
        } else {
          key_too_long_ = true;
        }
      }
    }
    // A last value without its line end is still shown.
    if (in_value_) end_value();
    return std::move(list_);
  }

 private:
  void end_value() {
    in_value_ = false;
    record_open_ = true;
    if (!key_too_long_ && !value_too_long_) store(column_of(key_));
    key_.clear();
    key_too_long_ = false;
  }

  void store(int column) {
    if (column < 0) return;
    if (column == kColDate) {
      list_.rows.emplace_back();
      has_row_ = true;
    }
    if (column == kColSize) list_.total_bytes += leading_number(value_);
    if (has_row_) list_.rows.back().cells[static_cast<std::size_t>(column)] = value_;
  }

  void separator(char b) {
    window_.push_back(b);
    if (window_.size() > 4) window_.erase(0, window_.size() - 4);
    if (record_open_ && window_ == "\r\n\r\n") {
      ++list_.complete_records;
      record_open_ = false;
      has_row_ = false;
      window_.clear();
    }
  }

  HistoryList list_;
  std::string key_;
  std::string value_;
  std::string window_;  // the last separator bytes, at most four
  bool in_value_ = false;
  bool key_too_long_ = false;
  bool value_too_long_ = false;
  bool record_open_ = false;  // a value was read since the last record end
  bool has_row_ = false;      // the current record has its Date row
};

}  // namespace

HistoryList parse_history(std::string_view text) {
  return Parser().run(text);
}

HistoryList load_history_file(const char* path) {
  std::string text;
  if (platform::path_kind(path) == 0) {
    const platform::FileHandle created = platform::file_open_write(path);
    if (created != 0) platform::file_close(created);
    return {};
  }
  if (!platform::read_whole_file(path, text)) return {};
  return parse_history(text);
}

std::vector<HistoryRow> history_summary_rows(const HistoryList& list) {
  std::vector<HistoryRow> rows(4);
  rows[0].cells[kColDate] = "＝＝＝";
  rows[1].cells[kColDate] = "合計";
  rows[2].cells[kColDate] = std::to_string(list.complete_records) + " ファイル";
  rows[3].cells[kColDate] = std::to_string(list.total_bytes) + " byte";
  return rows;
}

std::string format_duration(std::uint32_t seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3u:%.2u:%.2u", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return buffer;
}

}  // namespace torvane
