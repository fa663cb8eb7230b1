#include "gui/server_edit_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/profile_item_dialog.h"
#include "gui/qt_text.h"

namespace torvane::gui {

namespace {

constexpr int kKeyColumn = 0;
constexpr int kValueColumn = 1;

QTableWidgetItem* cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  // The info tip: a value wider than its column is read in full here.
  item->setToolTip(text);
  return item;
}

}  // namespace

ServerEditDialog::ServerEditDialog(const ProgramFolder& folder, const std::string& name,
                                   QWidget* parent)
    : QDialog(parent),
      folder_(folder),
      current_name_(name),
      name_box_(new QLineEdit(this)),
      file_box_(new QLineEdit(this)),
      table_(new QTableWidget(0, 2, this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QStringLiteral("Edit Server data"));

  auto* fields = new QGridLayout;
  auto* name_label = new QLabel(QStringLiteral("Host/Domain name"), this);
  auto* file_label = new QLabel(QStringLiteral("Filename"), this);
  name_label->setBuddy(name_box_);
  file_label->setBuddy(file_box_);
  fields->addWidget(name_label, 0, 0);
  fields->addWidget(name_box_, 0, 1);
  fields->addWidget(file_label, 1, 0);
  fields->addWidget(file_box_, 1, 1);
  fields->setColumnStretch(1, 1);

  table_->setHorizontalHeaderLabels({QString::fromUtf8("項目"), QString::fromUtf8("値")});
  table_->verticalHeader()->hide();
  table_->setShowGrid(true);
  table_->horizontalHeader()->setSectionsMovable(true);
  table_->horizontalHeader()->setHighlightSections(false);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->setColumnWidth(kKeyColumn, 100);
  table_->setColumnWidth(kValueColumn, 135);
  // A wider window gives its room to the values.
  table_->horizontalHeader()->setStretchLastSection(true);
  const int row_height = table_->fontMetrics().height() + 6;
  table_->verticalHeader()->setDefaultSectionSize(row_height);
  // Room for both columns and the scroll bar beside them, and for a dozen
  // rows (a profile holds at most 19 keys).
  table_->setMinimumSize(
      100 + 135 + table_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
          2 * table_->frameWidth() + 4,
      table_->horizontalHeader()->sizeHint().height() + 12 * row_height + 2 * table_->frameWidth());
  name_box_->setMinimumWidth(name_box_->fontMetrics().averageCharWidth() * 32);

  auto* add = new QPushButton(QString::fromUtf8("追加"), this);
  auto* edit = new QPushButton(QString::fromUtf8("編集"), this);
  auto* remove = new QPushButton(QString::fromUtf8("削除"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  ok_->setDefault(true);
  auto* row_buttons = new QHBoxLayout;
  row_buttons->addWidget(add);
  row_buttons->addWidget(edit);
  row_buttons->addWidget(remove);
  row_buttons->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(table_, 1);
  layout->addLayout(row_buttons);
  layout->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, &ServerEditDialog::add_row);
  connect(edit, &QPushButton::clicked, this, &ServerEditDialog::edit_row);
  connect(remove, &QPushButton::clicked, this, &ServerEditDialog::delete_row);
  connect(ok_, &QPushButton::clicked, this, &ServerEditDialog::save);
  connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
  connect(name_box_, &QLineEdit::textChanged, this, &ServerEditDialog::check);
  connect(file_box_, &QLineEdit::textChanged, this, &ServerEditDialog::check);

  std::string file;
  if (current_name_.empty()) {
    is_new_ = true;
    current_name_ = kNewProfileName;
    file = kNewProfileFile;
    loaded_ = true;
  } else {
    std::vector<ProfileRow> rows;
    loaded_ = read_server_profile(folder_, current_name_, rows, file) == 0;
    for (const ProfileRow& row : rows) append_row(qt_text(row.key), qt_text(row.value));
  }
  name_box_->setText(qt_text(current_name_));
  file_box_->setText(qt_text(file));
  check();
}

int ServerEditDialog::run() {
  return loaded_ ? exec() : 0;
}

std::vector<ProfileRow> ServerEditDialog::rows() const {
  std::vector<ProfileRow> out;
  for (int row = 0; row < table_->rowCount(); ++row) {
    out.push_back(ProfileRow{table_->item(row, kKeyColumn)->text().toStdString(),
                             table_->item(row, kValueColumn)->text().toStdString()});
  }
  return out;
}

QPushButton* ServerEditDialog::button(const QString& caption) const {
  for (QPushButton* b : findChildren<QPushButton*>()) {
    if (b->text() == caption) return b;
  }
  return nullptr;
}

void ServerEditDialog::append_row(const QString& key, const QString& value) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  set_row(row, key, value);
}

void ServerEditDialog::set_row(int row, const QString& key, const QString& value) {
  table_->setItem(row, kKeyColumn, cell(key));
  table_->setItem(row, kValueColumn, cell(value));
}

void ServerEditDialog::add_row() {
  QPointer<ServerEditDialog> self(this);
  QPointer<ProfileItemDialog> item = new ProfileItemDialog(QString(), QString(), this);
  const int result = item->exec();
  // Closed with the window that owns it (the program ending): nothing is left to fill.
  if (self.isNull() || item.isNull()) return;
  if (result == 1) append_row(item->key(), item->value());
  delete item;
}

void ServerEditDialog::edit_row() {
  const int row = table_->currentRow();
  if (row < 0 || table_->selectedItems().isEmpty()) return;
  QPointer<ServerEditDialog> self(this);
  QPointer<ProfileItemDialog> item = new ProfileItemDialog(
      table_->item(row, kKeyColumn)->text(), table_->item(row, kValueColumn)->text(), this);
  const int result = item->exec();
  if (self.isNull() || item.isNull()) return;
  if (result == 1) set_row(row, item->key(), item->value());
  delete item;
}

void ServerEditDialog::delete_row() {
  const int row = table_->currentRow();
  if (row < 0 || table_->selectedItems().isEmpty()) return;
  table_->removeRow(row);
}

void ServerEditDialog::check() {
  ok_->setEnabled(
      profile_target_allowed(name_box_->text().toStdString(), file_box_->text().toStdString()));
}

void ServerEditDialog::save() {
  if (!ok_->isEnabled()) return;
  // The profile is saved under the name it had; the Servers window moves the
  // entry to the edited name when the result asks it to.
  if (write_server_profile(folder_, current_name_, file_box_->text().toStdString(), rows()) != 0) {
    return;
  }
  done(finish_profile_edit(current_name_, name_box_->text().toStdString(), is_new_));
}

}  // namespace torvane::gui
