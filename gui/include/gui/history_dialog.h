// The download history ("ダウンロードの履歴"): the history file read once
// as the window opens (the core's reader, which creates a missing file
// empty), one row per record in the eight history columns, and below them
// the four summary rows with the number of complete records and the byte
// total. The list fills the window and follows its size; Esc (Cancel) or
// the close box closes it. Later downloads are not followed.
//
// Modeless. GUI thread only.
#pragma once

#include <QDialog>
#include <string>

class QTableWidget;

namespace torvane::gui {

class HistoryDialog final : public QDialog {
  Q_OBJECT
 public:
  // `history_file` as the manager names it (relative: the current folder).
  HistoryDialog(std::string history_file, QWidget* parent = nullptr);

  QTableWidget& list() { return *list_; }

 private:
  QTableWidget* list_;
};

}  // namespace torvane::gui
