// "Torvane GUI 設定 (リアルタイムで更新)": the program settings, each control
// taking effect the moment it changes. The engine threads' pause (track bar
// and its "%dms" text), the speed unit, the three switches, the existing-file
// policy, and the buttons that open the name templates ("詳細設定") and the
// power settings ("電源と回線"), both modeless and owned by this dialog.
//
// Nothing waits for a button: every change is made in the manager's settings
// at once, and the program writes them after its loop, so closing the window
// with the dialog open loses nothing.
//
// Lifetime: the manager outlives it. GUI thread only.
#pragma once

#include <QDialog>
#include <array>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace torvane {
class DownloadManager;
}

namespace torvane::gui {

class SettingsDialog final : public QDialog {
  Q_OBJECT
 public:
  SettingsDialog(DownloadManager& manager, QWidget* parent);

  QSlider& thread_wait() { return *thread_wait_; }
  QLabel& thread_wait_text() { return *thread_wait_text_; }
  QRadioButton& bytes_per_second() { return *bytes_; }
  QRadioButton& bits_per_second() { return *bits_; }
  QCheckBox& write_log() { return *write_log_; }
  QCheckBox& strict_info() { return *strict_info_; }
  QCheckBox& save_to_dir() { return *save_to_dir_; }
  // "上書き", "エラー", "別名称", "元ファイルの名称変更": ExistFile 0 to 3.
  QRadioButton& exist_file(int value) { return *exist_file_[static_cast<std::size_t>(value)]; }
  QPushButton& templates_button() { return *templates_; }
  QPushButton& power_button() { return *power_; }
  QPushButton& close_button() { return *close_; }

  // The buttons' actions, as a click runs them: each opens a new modeless
  // child dialog and returns it.
  QDialog* open_templates();
  QDialog* open_power();

 private:
  QWidget* build_thread_wait();
  QWidget* build_speed();
  QWidget* build_exist_file();
  void load();
  void connect_changes();
  void show_thread_wait(int ms);
  QDialog* open_child(QDialog* child);

  DownloadManager& manager_;
  QSlider* thread_wait_ = nullptr;
  QLabel* thread_wait_text_ = nullptr;
  QRadioButton* bytes_ = nullptr;
  QRadioButton* bits_ = nullptr;
  QCheckBox* write_log_ = nullptr;
  QCheckBox* strict_info_ = nullptr;
  QCheckBox* save_to_dir_ = nullptr;
  QButtonGroup* exist_group_ = nullptr;
  std::array<QRadioButton*, 4> exist_file_{};
  QPushButton* templates_ = nullptr;
  QPushButton* power_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace torvane::gui
