// The engine status window for debugging ("Torvane動作状況 (デバッグ用)"):
// a read-only text box and three buttons to its right. "Item" shows the
// limit, the slot count, the resize bits and every slot with its division
// counters, "スレッド" the pause and both threads' control bits (the core's
// texts, read under the manager's lock), each press a new snapshot;
// "Cancel" closes the window.
//
// Modeless. Lifetime: the manager outlives it. GUI thread only.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace torvane {
class DownloadManager;
}

namespace torvane::gui {

class EngineStatusDialog final : public QDialog {
  Q_OBJECT
 public:
  EngineStatusDialog(DownloadManager& manager, QWidget* parent = nullptr);

  QPlainTextEdit& text_box() { return *box_; }
  QPushButton& item_button() { return *item_; }
  QPushButton& thread_button() { return *threads_; }
  QPushButton& cancel_button() { return *cancel_; }

 private:
  void show_status(bool threads);

  DownloadManager& manager_;
  QPlainTextEdit* box_;
  QPushButton* item_;
  QPushButton* threads_;
  QPushButton* cancel_;
};

}  // namespace torvane::gui
