// "Edit Server data": one server profile, its name, its file and its rows
// (key and value), opened from the Servers window for a listed name or for a
// new profile (an empty name, shown as "NewServer" in "Servers/newsv.ini").
// Every file rule is the core's (core/settings/server_profiles.h).
//
// Modal. run() ends with what OK made of the edit, for the Servers window to
// follow: 1 an existing profile got a new name, 2 a new profile was saved, 0
// nothing to follow (also Cancel, and a name without a file, for which the
// dialog does not open). current_name() is then the profile's name.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "core/settings/ini_access.h"
#include "core/settings/server_profiles.h"

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace torvane::gui {

class ServerEditDialog final : public QDialog {
  Q_OBJECT
 public:
  // `name` empty: the new form.
  ServerEditDialog(const ProgramFolder& folder, const std::string& name, QWidget* parent = nullptr);

  // Whether the profile was found (always in the new form).
  bool loaded() const { return loaded_; }
  // exec() when loaded, else 0 at once.
  int run();

  const std::string& current_name() const { return current_name_; }
  bool is_new() const { return is_new_; }
  // The rows as the list shows them, in its order.
  std::vector<ProfileRow> rows() const;

  // The buttons' actions, as a click runs them. Add and edit open
  // "項目の編集" modally.
  void add_row();
  void edit_row();
  void delete_row();
  // OK: saves the rows and ends with 1, 2 or 0. A save that fails keeps the
  // dialog open with everything as typed.
  void save();

  QLineEdit& name_box() { return *name_box_; }
  QLineEdit& file_box() { return *file_box_; }
  QTableWidget& table() { return *table_; }
  QPushButton* button(const QString& caption) const;

 private:
  void append_row(const QString& key, const QString& value);
  void set_row(int row, const QString& key, const QString& value);
  void check();

  const ProgramFolder folder_;
  std::string current_name_;
  bool is_new_ = false;
  bool loaded_ = false;
  QLineEdit* name_box_;
  QLineEdit* file_box_;
  QTableWidget* table_;
  QPushButton* ok_;
};

}  // namespace torvane::gui
