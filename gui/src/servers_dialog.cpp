#include "gui/servers_dialog.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/settings/server_profiles.h"
#include "gui/qt_text.h"
#include "gui/server_edit_dialog.h"

namespace torvane::gui {

ServersDialog::ServersDialog(const ProgramFolder& folder, QWidget* parent)
    : QDialog(parent), folder_(folder), list_(new QListWidget(this)) {
  setWindowTitle(QStringLiteral("Servers"));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  for (const std::string& name : list_server_profiles(folder_)) list_->addItem(qt_text(name));

  auto* add = new QPushButton(QString::fromUtf8("新規作成"), this);
  auto* remove = new QPushButton(QString::fromUtf8("削除"), this);
  auto* edit = new QPushButton(QString::fromUtf8("編集"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addWidget(edit);
  buttons->addStretch();
  buttons->addWidget(ok);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, &ServersDialog::new_profile);
  connect(remove, &QPushButton::clicked, this, &ServersDialog::delete_profile);
  connect(edit, &QPushButton::clicked, this, &ServersDialog::edit_profile);
  connect(ok, &QPushButton::clicked, this, &QWidget::close);
}

QPushButton* ServersDialog::button(const QString& caption) const {
  for (QPushButton* b : findChildren<QPushButton*>()) {
    if (b->text() == caption) return b;
  }
  return nullptr;
}

void ServersDialog::new_profile() {
  open_editor(std::string(), -1);
}

void ServersDialog::edit_profile() {
  const int row = list_->currentRow();
  if (row < 0 || list_->selectedItems().isEmpty()) return;
  open_editor(list_->item(row)->text().toStdString(), row);
}

void ServersDialog::delete_profile() {
  const int row = list_->currentRow();
  if (row < 0 || list_->selectedItems().isEmpty()) return;
  // A name without an entry ("default" before it has one) has no file to
  // delete; its row goes all the same.
  delete_server_profile(folder_, list_->item(row)->text().toStdString());
  delete list_->takeItem(row);
}

void ServersDialog::open_editor(const std::string& name, int selected) {
  QPointer<ServersDialog> self(this);
  QPointer<ServerEditDialog> editor = new ServerEditDialog(folder_, name, this);
  const int result = editor->run();
  // Closed with the window that owns it (the program ending): nothing is
  // left to follow.
  if (self.isNull() || editor.isNull()) return;
  const std::string new_name = editor->current_name();
  delete editor;
  if (result != 1 && result != 2) return;
  if (rename_server_entry(folder_, result, name, new_name) != 0) return;
  if (result == 1) {
    list_->item(selected)->setText(qt_text(new_name));
  } else {
    list_->addItem(qt_text(new_name));
  }
}

}  // namespace torvane::gui
