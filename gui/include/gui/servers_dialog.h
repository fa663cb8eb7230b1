// "Servers": the server profiles, "default" first and then every name of
// "ServerData" in file order, with new, delete and edit; the edits happen in
// "Edit Server data" (server_edit_dialog.h), opened modally from here. Every
// file rule is the core's (core/settings/server_profiles.h).
//
// Modeless; the window's サーバー → 編集 opens one, and OK closes it.
// GUI thread only.
#pragma once

#include <QDialog>
#include <string>

#include "core/settings/ini_access.h"

class QListWidget;
class QPushButton;

namespace torvane::gui {

class ServersDialog final : public QDialog {
  Q_OBJECT
 public:
  ServersDialog(const ProgramFolder& folder, QWidget* parent = nullptr);

  // The buttons' actions, as a click runs them. New and edit open "Edit
  // Server data" and follow its result.
  void new_profile();
  void edit_profile();
  void delete_profile();

  QListWidget& list() { return *list_; }
  QPushButton* button(const QString& caption) const;

 private:
  // `selected` is the edited row (-1 for a new profile).
  void open_editor(const std::string& name, int selected);

  const ProgramFolder folder_;
  QListWidget* list_;
};

}  // namespace torvane::gui
