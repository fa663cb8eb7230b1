// The size table's editor ("分割数->詳細設定"): the rows of section
// "Divide" of the program INI, each a byte range and a division count, to
// add, edit (in the modal row editor) and delete; OK writes the table back
// through the core (write_size_table), Cancel drops the changes.
//
// Modeless. Lifetime: the INI outlives it. GUI thread only.
#pragma once

#include <QDialog>
#include <vector>

#include "core/settings/ini_access.h"
#include "core/settings/size_table.h"

class QPushButton;
class QTableWidget;

namespace torvane::gui {

class SizeTableDialog final : public QDialog {
  Q_OBJECT
 public:
  SizeTableDialog(const IniAccess& ini, QWidget* parent = nullptr);

  // The rows as the list shows them, in order.
  const std::vector<SizeRow>& rows() const { return rows_; }
  QTableWidget& list() { return *list_; }
  QPushButton* button(const QString& caption) const;

  // The buttons' actions, as a click runs them; "追加" and "編集" run the
  // row editor modally.
  void add();
  void edit();
  void remove();

 public Q_SLOTS:
  void accept() override;

 private:
  // Row `row` of the list drawn from rows_[row].
  void show_row(int row);
  int selected_row() const;

  const IniAccess& ini_;
  std::vector<SizeRow> rows_;
  QTableWidget* list_;
  std::vector<QPushButton*> buttons_;
};

}  // namespace torvane::gui
