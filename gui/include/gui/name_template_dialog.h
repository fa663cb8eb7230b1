// "既にファイルが存在する場合の処理 -> 詳細設定": the two rename templates of the
// existing-file policy (the new file's other name, and the new name of the
// file already there), each with its "文法エラー無視" switch. A box opens with
// its stored template, or the default one when none is stored; OK stores
// both boxes and both switches, Cancel nothing.
//
// Lifetime: the manager outlives it. GUI thread only.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace torvane {
class DownloadManager;
}

namespace torvane::gui {

class NameTemplateDialog final : public QDialog {
  Q_OBJECT
 public:
  NameTemplateDialog(DownloadManager& manager, QWidget* parent);

  // Stores the boxes and switches, then closes.
  void accept() override;

  QLineEdit& other_name() { return *other_name_; }
  QCheckBox& other_name_ignore() { return *other_name_ignore_; }
  QLineEdit& rename() { return *rename_; }
  QCheckBox& rename_ignore() { return *rename_ignore_; }
  QPushButton& ok_button() { return *ok_; }
  QPushButton& cancel_button() { return *cancel_; }

 private:
  DownloadManager& manager_;
  QLineEdit* other_name_;
  QCheckBox* other_name_ignore_;
  QLineEdit* rename_;
  QCheckBox* rename_ignore_;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace torvane::gui
