#include "gui/list_pane_widget.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QResizeEvent>
#include <algorithm>

#include "core/text/column_titles.h"
#include "gui/command_ids.h"
#include "gui/item_list_model.h"
#include "gui/qt_text.h"
#include "gui/report_list.h"

namespace torvane::gui {

namespace {

// The detail list keeps this far from the pane's right and bottom edges
// (where the item list's scroll bars are), and starts this far from the
// right edge, or at 2 in a narrow pane.
constexpr int kDetailMargin = 18;
constexpr int kDetailFromRight = 355;
constexpr int kDetailLeftMin = 2;

}  // namespace

ListPaneWidget::ListPaneWidget(ItemListModel* model, QWidget* parent)
    : QWidget(parent), items_(new QTableView(this)), details_(new QTreeWidget(this)) {
  items_->setModel(model);
  set_up_report_list(*items_);
  items_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  items_->setTextElideMode(Qt::ElideRight);
  items_->horizontalHeader()->setStretchLastSection(false);
  for (int c = 0; c < kItemColumnCount; ++c)
    items_->setColumnWidth(c, kItemListColumns[static_cast<std::size_t>(c)].width);
  items_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(items_, &QWidget::customContextMenuRequested, this, &ListPaneWidget::open_context_menu);
  connect(items_, &QAbstractItemView::clicked, this, [this] { Q_EMIT item_clicked(); });
  connect(items_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            Q_EMIT focus_changed(current.isValid() ? current.row() : -1);
          });
  // Rows that come or go above the focused one move it without a
  // currentChanged, and the removal of the focused row itself announces
  // the row its successor had before the removal: once the rows have
  // settled, the focused row is told again.
  const auto refocus = [this] { Q_EMIT focus_changed(focused_row()); };
  connect(model, &QAbstractItemModel::rowsInserted, this, refocus);
  connect(model, &QAbstractItemModel::rowsRemoved, this, refocus);

  details_->setColumnCount(1);
  details_->setHeaderLabels({qt_text(kDetailListColumns[0].title)});
  details_->setColumnWidth(0, kDetailListColumns[0].width);
  details_->setRootIsDecorated(false);
  details_->setUniformRowHeights(true);
  details_->setSelectionMode(QAbstractItemView::NoSelection);
  details_->raise();
  // The pane's own first size.
  resize(300, 400);
}

std::vector<int> ListPaneWidget::selected_rows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : items_->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

int ListPaneWidget::focused_row() const {
  const QModelIndex current = items_->selectionModel()->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void ListPaneWidget::write_detail_row(int row, std::string_view text) {
  if (row < 0) return;
  if (row < details_->topLevelItemCount()) {
    details_->topLevelItem(row)->setText(0, qt_text(text));
    return;
  }
  // Rows between the end and `row` would be gaps: the row is appended.
  auto* item = new QTreeWidgetItem(details_);
  item->setText(0, qt_text(text));
}

void ListPaneWidget::clear_detail_rows() {
  details_->clear();
}

std::unique_ptr<QMenu> ListPaneWidget::make_context_menu() {
  auto menu = std::make_unique<QMenu>(this);
  const bool any = !selected_rows().empty();
  const auto add = [&](const char* text, int id, bool enabled) {
    QAction* action = menu->addAction(QString::fromUtf8(text));
    action->setData(id);
    action->setEnabled(enabled);
  };
  add("開始", kCmdStart, any);
  add("停止", kCmdStop, any);
  add("削除", kCmdDelete, any);
  menu->addSeparator();
  add("キャンセル", kCmdCancel, true);
  return menu;
}

void ListPaneWidget::open_context_menu(const QPoint& pos) {
  // Over the detail list there is no menu: the detail list covers that corner.
  const QPoint in_pane = items_->viewport()->mapTo(this, pos);
  if (details_->geometry().contains(in_pane)) return;
  const std::unique_ptr<QMenu> menu = make_context_menu();
  QAction* chosen = menu->exec(items_->viewport()->mapToGlobal(pos));
  if (chosen == nullptr) return;
  const int id = chosen->data().toInt();
  if (id != kCmdCancel) Q_EMIT command(id);
}

void ListPaneWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width();
  const int g = height();
  const int a = std::max(w - kDetailFromRight, kDetailLeftMin);
  items_->setGeometry(0, 0, w, g);
  details_->setGeometry(a, g / 2, std::max(w - a - kDetailMargin, 0),
                        std::max(g / 2 - kDetailMargin, 0));
  details_->raise();
}

}  // namespace torvane::gui
