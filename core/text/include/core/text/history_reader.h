// The download history file ("tvnlog.txt" in the current folder): its reader
// into table rows with totals, for the history window, and the duration text
// the history records use.
//
// The file is "Key: value" pairs; a value ends at TAB, CR, LF or NUL, and a
// record ends where the separator bytes after a value end in "\r\n\r\n".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

inline constexpr std::string_view kHistoryFile = "tvnlog.txt";

// Columns of the history table, in display order.
enum HistoryColumn : int {
  kColDate = 0,
  kColFilename,
  kColSize,
  kColDivide,
  kColSpeed,
  kColTime,
  kColSave,
  kColUrl,
  kHistoryColumnCount
};

// Longest key and value the reader keeps; a longer one is passed over (its
// pair is dropped) and reading goes on with the next pair.
inline constexpr std::size_t kHistoryMaxKey = 64;
inline constexpr std::size_t kHistoryMaxValue = 2048;

struct HistoryRow {
  std::array<std::string, kHistoryColumnCount> cells;
};

struct HistoryList {
  std::vector<HistoryRow> rows;  // one per record with a Date, file order
  int complete_records = 0;      // records closed by their empty line
  std::int64_t total_bytes = 0;  // sum of every FileSize value read
};

// Parses a whole history text. A "Date" value starts a new row; the other
// known keys (compared without regard to case) fill the current row and are
// dropped while there is none; unknown keys and lines without ": " are
// skipped.
HistoryList parse_history(std::string_view text);

// Reads the history file at `path`, creating it empty when missing (as the
// history window does). An unreadable file reads as empty.
HistoryList load_history_file(const char* path);

// The four summary rows shown below the records, column 0 only:
// "＝＝＝", "合計", "<n> ファイル", "<total> byte".
std::vector<HistoryRow> history_summary_rows(const HistoryList& list);

// "%.3d:%.2d:%.2d" of hours, minutes and seconds.
std::string format_duration(std::uint32_t seconds);

}  // namespace torvane
