#include "gui/item_list_model.h"

#include <QString>
#include <algorithm>
#include <string>

#include "core/text/column_titles.h"
#include "core/text/progress_text.h"
#include "gui/qt_text.h"
#include "gui/report_list.h"

namespace torvane::gui {

namespace {

std::string column_text(const ListItem& item, int column) {
  switch (column) {
    case kItemColState:
      return std::string(item_state_word(item.state));
    case kItemColFileName:
      return item.file_name;
    case kItemColDivisions:
      return item.division_text;
    case kItemColProgress:
      return item.progress;
    case kItemColSpeed:
      return item.speed;
    case kItemColSaveFolder:
      return item.save_folder;
    case kItemColUrl:
      return item.url;
    default:
      return {};
  }
}

}  // namespace

ItemListModel::ItemListModel(const DownloadManager& manager, QObject* parent)
    : QAbstractTableModel(parent), manager_(manager) {}

int ItemListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kItemColumnCount;
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const int column = index.column();
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(
        column_alignment(kItemListColumns[static_cast<std::size_t>(column)].align));
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  // The list may be a change ahead of the rows (its replay is queued): a
  // row past its end shows nothing until the change arrives.
  return manager_.with_items([&](const ItemList& items) -> QVariant {
    const ListItem* item = items.at(index.row());
    if (item == nullptr) return {};
    const QString text = qt_text(column_text(*item, column));
    if (role == Qt::DisplayRole) return text;
    if (item->reason.empty()) return text;
    return text + QStringLiteral("\n") + qt_text(item->reason);
  });
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kItemColumnCount) return {};
  const ListColumn& column = kItemListColumns[static_cast<std::size_t>(section)];
  if (role == Qt::DisplayRole) return qt_text(column.title);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(column_alignment(column.align));
  return {};
}

void ItemListModel::rows_inserted(int first, int last) {
  if (first < 0 || last < first || first > rows_) return;
  beginInsertRows(QModelIndex(), first, last);
  rows_ += last - first + 1;
  endInsertRows();
}

void ItemListModel::rows_removed(int first, int last) {
  if (first < 0 || last < first || last >= rows_) return;
  beginRemoveRows(QModelIndex(), first, last);
  rows_ -= last - first + 1;
  endRemoveRows();
}

void ItemListModel::set_item_count(std::size_t count) {
  const int wanted = static_cast<int>(count);
  if (wanted > rows_) rows_inserted(rows_, wanted - 1);
  if (wanted < rows_) rows_removed(wanted, rows_ - 1);
}

void ItemListModel::redraw_rows(int first, int last) {
  if (rows_ == 0) return;
  first = std::max(first, 0);
  last = last < 0 ? rows_ - 1 : std::min(last, rows_ - 1);
  if (first > last) return;
  Q_EMIT dataChanged(index(first, 0), index(last, kItemColumnCount - 1));
}

}  // namespace torvane::gui
