// "項目の編集": one row of a server profile, its key picked from the profile
// keys or typed, and its value. Modal; ends with 1 when OK is pressed on a
// key or value other than the ones it opened with, else 0. OK stays off
// while the row could not be stored (core/settings/server_profiles.h).
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace torvane::gui {

class ProfileItemDialog final : public QDialog {
  Q_OBJECT
 public:
  ProfileItemDialog(const QString& key, const QString& value, QWidget* parent = nullptr);

  QString key() const;
  QString value() const;

  QComboBox& key_box() { return *key_box_; }
  QLineEdit& value_box() { return *value_box_; }
  QPushButton& ok_button() { return *ok_; }

  // OK's action: ends with 1 or 0 as above.
  void finish();

 private:
  void check();

  const QString opened_key_;
  const QString opened_value_;
  QComboBox* key_box_;
  QLineEdit* value_box_;
  QPushButton* ok_;
};

}  // namespace torvane::gui
