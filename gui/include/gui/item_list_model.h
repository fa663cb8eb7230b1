// The item list as a table: row i is item i of the manager's list, the
// seven columns and their texts are the ones the core writes. The rows
// follow the list through the view's calls replayed in order on the GUI
// thread (inserted, removed, count), so the model never resets while the
// user looks at it; the texts are read through the manager's lock when
// drawn. GUI thread only.
#pragma once

#include <QAbstractTableModel>

#include "core/queue/download_manager.h"

namespace torvane::gui {

class ItemListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ItemListModel(const DownloadManager& manager, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // Display: the column's text. Alignment: the column's. Tool tip: the
  // cell's whole text, with the item's last failure reason under it.
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The list changed (replayed from the core's view calls).
  void rows_inserted(int first, int last);
  void rows_removed(int first, int last);
  // The count the list reached; a model that disagrees (a change it did not
  // see) is brought to it.
  void set_item_count(std::size_t count);
  // Rows first..last changed (last -1: through the end).
  void redraw_rows(int first, int last);

 private:
  const DownloadManager& manager_;
  int rows_ = 0;
};

}  // namespace torvane::gui
