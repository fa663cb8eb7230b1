// The columns of the three lists the windows show: the item list, the
// detail list of the focused item and the history list. Titles, initial
// widths in pixels and alignment, in display order.
#pragma once

#include <array>
#include <string_view>

#include "core/text/history_reader.h"

namespace torvane {

enum class ColumnAlign { kLeft, kRight };

struct ListColumn {
  std::string_view title;
  int width;
  ColumnAlign align;
};

// Columns of the item list; the index is the column.
enum ItemColumn : int {
  kItemColState = 0,
  kItemColFileName,
  kItemColDivisions,
  kItemColProgress,
  kItemColSpeed,
  kItemColSaveFolder,
  kItemColUrl,
  kItemColumnCount
};

inline constexpr std::array<ListColumn, kItemColumnCount> kItemListColumns = {{
    {"状態", 40, ColumnAlign::kLeft},
    {"ファイル名", 100, ColumnAlign::kLeft},
    {"Div", 30, ColumnAlign::kRight},
    {"状況", 150, ColumnAlign::kRight},
    {"速度", 80, ColumnAlign::kRight},
    {"保存先", 150, ColumnAlign::kLeft},
    {"URL", 150, ColumnAlign::kLeft},
}};

inline constexpr std::array<ListColumn, 1> kDetailListColumns = {{
    {"状況(詳細)", 330, ColumnAlign::kLeft},
}};

// In the order of HistoryColumn (history_reader.h).
inline constexpr std::array<ListColumn, kHistoryColumnCount> kHistoryListColumns = {{
    {"日付", 90, ColumnAlign::kLeft},
    {"ファイル名", 80, ColumnAlign::kLeft},
    {"Size", 70, ColumnAlign::kRight},
    {"Div", 30, ColumnAlign::kRight},
    {"速度", 80, ColumnAlign::kRight},
    {"Time", 60, ColumnAlign::kRight},
    {"Save", 150, ColumnAlign::kLeft},
    {"URL", 150, ColumnAlign::kLeft},
}};

}  // namespace torvane
