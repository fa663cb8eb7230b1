#include "gui/profile_item_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/settings/profile_key_names.h"
#include "core/settings/server_profiles.h"
#include "gui/qt_text.h"

namespace torvane::gui {

ProfileItemDialog::ProfileItemDialog(const QString& key, const QString& value, QWidget* parent)
    : QDialog(parent),
      opened_key_(key),
      opened_value_(value),
      key_box_(new QComboBox(this)),
      value_box_(new QLineEdit(this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
  setWindowTitle(QString::fromUtf8("項目の編集"));
  key_box_->setEditable(true);
  // A typed key stays a typed key: it is not added to the list, and the
  // list's names are not completed into it.
  key_box_->setInsertPolicy(QComboBox::NoInsert);
  key_box_->setCompleter(nullptr);
  key_box_->setMaxVisibleItems(static_cast<int>(kProfileKeyNames.size()));
  for (std::string_view name : kProfileKeyNames) key_box_->addItem(qt_text(name));
  key_box_->setEditText(key);
  value_box_->setText(value);
  value_box_->setMinimumWidth(240);

  auto* fields = new QGridLayout;
  auto* key_label = new QLabel(QString::fromUtf8("項目"), this);
  auto* value_label = new QLabel(QString::fromUtf8("値"), this);
  key_label->setBuddy(key_box_);
  value_label->setBuddy(value_box_);
  fields->addWidget(key_label, 0, 0);
  fields->addWidget(key_box_, 0, 1);
  fields->addWidget(value_label, 1, 0);
  fields->addWidget(value_box_, 1, 1);
  fields->setColumnStretch(1, 1);

  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  ok_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(ok_, &QPushButton::clicked, this, &ProfileItemDialog::finish);
  connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
  connect(key_box_, &QComboBox::editTextChanged, this, &ProfileItemDialog::check);
  connect(value_box_, &QLineEdit::textChanged, this, &ProfileItemDialog::check);
  check();
}

QString ProfileItemDialog::key() const {
  return key_box_->currentText();
}

QString ProfileItemDialog::value() const {
  return value_box_->text();
}

void ProfileItemDialog::check() {
  ok_->setEnabled(profile_row_allowed(key().toStdString(), value().toStdString()));
}

void ProfileItemDialog::finish() {
  if (!ok_->isEnabled()) return;
  done(key() != opened_key_ || value() != opened_value_ ? 1 : 0);
}

}  // namespace torvane::gui
