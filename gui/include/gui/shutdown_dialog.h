// "電源と回線の設定": when the program shuts down by itself (never, when every
// download has ended, at the set time), how (the method list), whether by
// force and whether the dial-up line is hung up first, and the set time as
// text ("y2001 mo12 d24 h23 mi30 s00", fields left out match any value).
// OK stores all of it in the manager's settings and closes, Cancel closes;
// "動作テスト" stores it, asks, and on Yes shuts down at once through the
// manager's power services.
//
// Lifetime: the manager outlives it. GUI thread only.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <array>
#include <string_view>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace torvane {
class DownloadManager;
}

namespace torvane::gui {

class ShutdownDialog final : public QDialog {
  Q_OBJECT
 public:
  ShutdownDialog(DownloadManager& manager, QWidget* parent);

  // Stores what the controls show in the manager's settings.
  void apply();
  // Stores, then closes.
  void accept() override;
  // "動作テスト": stores, asks "本当にシャットダウンしてしまいますがかまいませんか？"
  // and on Yes runs the shutdown now; a failure is told in a message owned
  // by this dialog. Both messages are modal.
  void run_test();

  // "使用しない", "すべてのダウンロードが終了したとき", "指定時刻になったとき".
  QRadioButton& trigger(int value) { return *triggers_[static_cast<std::size_t>(value)]; }
  QListWidget& methods() { return *methods_; }
  QCheckBox& force() { return *force_; }
  QCheckBox& hang_up() { return *hang_up_; }
  QLineEdit& set_time() { return *set_time_; }
  QPushButton& test_button() { return *test_; }
  QPushButton& ok_button() { return *ok_; }
  QPushButton& cancel_button() { return *cancel_; }

 private:
  QWidget* build_triggers();
  void load();
  // A modal message owned by the dialog; true when it was answered Yes
  // and the dialog is still there.
  bool ask(QMessageBox::Icon icon, std::string_view caption, std::string_view text,
           QMessageBox::StandardButtons buttons);

  DownloadManager& manager_;
  QButtonGroup* trigger_group_ = nullptr;
  std::array<QRadioButton*, 3> triggers_{};
  QLineEdit* set_time_ = nullptr;
  QListWidget* methods_ = nullptr;
  QCheckBox* force_ = nullptr;
  QCheckBox* hang_up_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace torvane::gui
