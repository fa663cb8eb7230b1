// The look every table of the program shares (the item list, the history,
// the size table): grid lines, whole rows selected, no editing in place,
// one line per row, no row numbers, columns the user can move.
#pragma once

#include <QHeaderView>
#include <QTableView>

namespace torvane::gui {

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
