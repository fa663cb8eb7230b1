#include "gui/history_dialog.h"

#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/text/column_titles.h"
#include "core/text/history_reader.h"
#include "gui/qt_text.h"
#include "gui/report_list.h"

namespace torvane::gui {

namespace {

constexpr int kShortColumnBound = 200;
constexpr int kLongColumnBound = 300;
constexpr int kMostOpeningWidth = 1000;
constexpr int kOpeningHeight = 320;

}  // namespace

HistoryDialog::HistoryDialog(std::string history_file, QWidget* parent)
    : QDialog(parent), list_(new QTableWidget(this)) {
  setWindowTitle(QString::fromUtf8("ダウンロードの履歴"));

  list_->setColumnCount(kHistoryColumnCount);
  set_up_report_list(*list_);
  for (int c = 0; c < kHistoryColumnCount; ++c) {
    const ListColumn& column = kHistoryListColumns[static_cast<std::size_t>(c)];
    auto* title = new QTableWidgetItem(qt_text(column.title));
    title->setTextAlignment(column_alignment(column.align));
    list_->setHorizontalHeaderItem(c, title);
    list_->setColumnWidth(c, column.width);
  }

  const HistoryList history = load_history_file(history_file.c_str());
  std::vector<HistoryRow> rows = history.rows;
  for (HistoryRow& summary : history_summary_rows(history)) rows.push_back(std::move(summary));
  list_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < list_->rowCount(); ++r) {
    const HistoryRow& row = rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < kHistoryColumnCount; ++c) {
      const std::string& cell = row.cells[static_cast<std::size_t>(c)];
      if (cell.empty()) continue;
      auto* item = new QTableWidgetItem(qt_text(cell));
      item->setTextAlignment(
          column_alignment(kHistoryListColumns[static_cast<std::size_t>(c)].align));
      // The whole text on hover: the columns are narrow for a path or a URL.
      item->setToolTip(item->text());
      list_->setItem(r, c, item);
    }
  }

  // The described widths, or what a column's texts need in this font, so
  // that a date, a size or a total is not cut; the long folder and URL
  // columns stop at a bound and show the rest on hover.
  for (int c = 0; c < kHistoryColumnCount; ++c) {
    const int bound = c == kColSave || c == kColUrl ? kLongColumnBound : kShortColumnBound;
    const int needed = std::max(static_cast<QAbstractItemView*>(list_)->sizeHintForColumn(c),
                                list_->horizontalHeader()->sectionSizeHint(c));
    list_->setColumnWidth(c, std::clamp(needed, list_->columnWidth(c), bound));
  }

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  // Wide enough for every column, unless that is wider than a window
  // should open; a scroll bar brings the rest.
  const int all_columns = list_->horizontalHeader()->length() + 2 * list_->frameWidth() +
                          list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  resize(std::min(all_columns, kMostOpeningWidth), kOpeningHeight);
}

}  // namespace torvane::gui
