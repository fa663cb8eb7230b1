#include "gui/name_template_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "core/queue/download_manager.h"
#include "core/settings/settings.h"
#include "core/text/name_template.h"
#include "gui/qt_text.h"

namespace torvane::gui {

namespace {

// What a template box takes.
constexpr int kTemplateBoxLength = 1023;
// Room for a template and its expansion without scrolling, in characters.
constexpr int kTemplateBoxChars = 48;

QLineEdit* template_box(const std::optional<std::string>& stored, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setMaxLength(kTemplateBoxLength);
  box->setText(qt_text(stored ? std::string_view(*stored) : kDefaultNameTemplate));
  box->setMinimumWidth(box->fontMetrics().averageCharWidth() * kTemplateBoxChars);
  return box;
}

}  // namespace

NameTemplateDialog::NameTemplateDialog(DownloadManager& manager, QWidget* parent)
    : QDialog(parent), manager_(manager) {
  setWindowTitle(QString::fromUtf8("既にファイルが存在する場合の処理 -> 詳細設定"));
  const ProgramSettings stored = manager_.with_settings([](ProgramSettings& s) { return s; });
  other_name_ = template_box(stored.other_name, this);
  other_name_ignore_ = new QCheckBox(QString::fromUtf8("文法エラー無視"), this);
  other_name_ignore_->setChecked(stored.on_ignore_err != 0);
  rename_ = template_box(stored.renane, this);
  rename_ignore_ = new QCheckBox(QString::fromUtf8("文法エラー無視"), this);
  rename_ignore_->setChecked(stored.rn_ignore_err != 0);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel(QString::fromUtf8("別名称のつけ方 ($f：ファイル名　$e：拡張子 $t：日付)"), this));
  layout->addWidget(other_name_);
  layout->addWidget(other_name_ignore_);
  layout->addSpacing(layout->spacing() * 2);
  layout->addWidget(new QLabel(QString::fromUtf8("元ファイルの名称変更の仕方"), this));
  layout->addWidget(rename_);
  layout->addWidget(rename_ignore_);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  cancel_ = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &NameTemplateDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void NameTemplateDialog::accept() {
  const std::string other = other_name_->text().toStdString();
  const std::string rename = rename_->text().toStdString();
  const bool other_ignore = other_name_ignore_->isChecked();
  const bool rename_ignore = rename_ignore_->isChecked();
  manager_.with_settings([&](ProgramSettings& s) {
    // What the box shows is the template from now on, the default one too,
    // so that the file then holds what the user saw.
    s.other_name = other;
    s.on_ignore_err = other_ignore ? 1 : 0;
    s.renane = rename;
    s.rn_ignore_err = rename_ignore ? 1 : 0;
  });
  QDialog::accept();
}

}  // namespace torvane::gui
