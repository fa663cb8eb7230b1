// The left pane: the item list filling it, and the detail list of the
// focused item laid over the list's lower right corner. Its context menu
// offers start, stop and delete for the selected rows. GUI thread only.
#pragma once

#include <QTableView>
#include <QTreeWidget>
#include <QWidget>
#include <memory>
#include <string_view>
#include <vector>

class QMenu;

namespace torvane::gui {

class ItemListModel;

class ListPaneWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit ListPaneWidget(ItemListModel* model, QWidget* parent = nullptr);

  QTableView& item_view() { return *items_; }
  QTreeWidget& detail_list() { return *details_; }

  // The selected rows, top first.
  std::vector<int> selected_rows() const;
  // The row with the keyboard focus, or -1.
  int focused_row() const;

  // Writes detail row `row`, or appends it when the list is shorter.
  void write_detail_row(int row, std::string_view text);
  void clear_detail_rows();

  // The context menu as it would open now: start, stop, delete, a
  // separator and cancel; the first three grayed when no row is selected.
  // Each command action carries its command number as data.
  std::unique_ptr<QMenu> make_context_menu();

 Q_SIGNALS:
  // A command of the context menu (start, stop, delete) for the selected rows.
  void command(int id);
  // A row was clicked: the details are to be shown for the focused row.
  void item_clicked();
  // The focused row changed (-1: none), or rows were inserted or removed
  // (the focused row may have moved with them).
  void focus_changed(int row);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void open_context_menu(const QPoint& pos);

  QTableView* items_;
  QTreeWidget* details_;
};

}  // namespace torvane::gui
