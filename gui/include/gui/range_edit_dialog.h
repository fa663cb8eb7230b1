// The size table's row editor ("分割数->詳細設定->範囲の編集"): a range and
// a division count, or "設定値" (the item keeps its own count). Modal; its
// owner runs it with exec() and reads the row back.
//
// exec() returns Accepted for OK and Rejected for Cancel; changed() tells
// whether OK found the range or the count different (the core's rule,
// apply_range_edit), in which case row() holds the new row. GUI thread only.
#pragma once

#include <QDialog>

#include "core/settings/size_table.h"

class QLineEdit;
class QRadioButton;

namespace torvane::gui {

class UpDownWidget;

class RangeEditDialog final : public QDialog {
  Q_OBJECT
 public:
  RangeEditDialog(SizeRow row, QWidget* parent = nullptr);

  const SizeRow& row() const { return row_; }
  bool changed() const { return changed_; }

  QLineEdit& range_box() { return *range_box_; }
  QLineEdit& count_box() { return *count_box_; }
  UpDownWidget& up_down() { return *up_down_; }
  QRadioButton& count_radio() { return *count_radio_; }
  QRadioButton& set_value_radio() { return *set_value_radio_; }

 public Q_SLOTS:
  void accept() override;

 private:
  SizeRow row_;
  bool changed_ = false;
  QLineEdit* range_box_;
  QRadioButton* count_radio_;
  QLineEdit* count_box_;
  UpDownWidget* up_down_;
  QRadioButton* set_value_radio_;
};

}  // namespace torvane::gui
