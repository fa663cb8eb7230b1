// The look every table of the program shares (the item list, the history,
// the size table): grid lines, whole rows selected, no editing in place,
// one line per row, no row numbers, columns the user can move.
#pragma once

#include <QHeaderView>
#include <QTableView>

#include "core/text/column_titles.h"

namespace torvane::gui {

// A column's alignment as Qt spells it, centred vertically.
inline Qt::Alignment column_alignment(ColumnAlign align) {
  return (align == ColumnAlign::kRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

inline void set_up_report_list(QTableView& list) {
  list.setShowGrid(true);
  list.setSelectionBehavior(QAbstractItemView::SelectRows);
  list.setEditTriggers(QAbstractItemView::NoEditTriggers);
  list.setWordWrap(false);
  list.verticalHeader()->hide();
  list.verticalHeader()->setDefaultSectionSize(list.fontMetrics().height() + 4);
  list.horizontalHeader()->setSectionsMovable(true);
  list.horizontalHeader()->setHighlightSections(false);
}

}  // namespace torvane::gui
