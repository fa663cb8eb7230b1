#include "gui/range_edit_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/queue/add_items_panel.h"
#include "core/queue/item_settings.h"
#include "gui/qt_text.h"
#include "gui/up_down_widget.h"

namespace torvane::gui {

namespace {

// The range box takes as much as the editor reads of it.
constexpr int kRangeTextLimit = 255;

}  // namespace

RangeEditDialog::RangeEditDialog(SizeRow row, QWidget* parent)
    : QDialog(parent),
      row_(std::move(row)),
      range_box_(new QLineEdit(this)),
      count_radio_(new QRadioButton(this)),
      count_box_(new QLineEdit(this)),
      up_down_(new UpDownWidget(this)),
      set_value_radio_(new QRadioButton(QString::fromUtf8("設定値"), this)) {
  setWindowTitle(QString::fromUtf8("分割数->詳細設定->範囲の編集"));

  auto* group = new QButtonGroup(this);
  group->addButton(count_radio_);
  group->addButton(set_value_radio_);
  range_box_->setMaxLength(kRangeTextLimit);
  range_box_->setMinimumWidth(
      range_box_->fontMetrics().horizontalAdvance(QStringLiteral("0000000000-0000000000")));
  count_box_->setFixedWidth(count_box_->fontMetrics().horizontalAdvance(QStringLiteral("0000")) +
                            12);
  up_down_->setRange(1, kMaxDivisions);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QString::fromUtf8("範囲"), this), 0, 0);
  grid->addWidget(range_box_, 0, 1);
  grid->addWidget(new QLabel(QString::fromUtf8("分割数"), this), 1, 0);
  auto* count_row = new QHBoxLayout;
  count_row->setSpacing(2);
  count_row->addWidget(count_radio_);
  count_row->addWidget(count_box_);
  count_row->addWidget(up_down_);
  count_row->addSpacing(12);
  count_row->addWidget(set_value_radio_);
  count_row->addStretch();
  grid->addLayout(count_row, 1, 1);

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &RangeEditDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &RangeEditDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);

  range_box_->setText(qt_text(format_range(parse_range(row_.range))));
  if (row_.count == kUseItemDivisions) {
    set_value_radio_->setChecked(true);
    count_box_->setText(QStringLiteral("1"));
    up_down_->setPosition(1);
  } else {
    count_radio_->setChecked(true);
    count_box_->setText(QString::number(row_.count));
    up_down_->setPosition(row_.count);
  }
  connect(count_box_, &QLineEdit::textEdited, this, [this](const QString& typed) {
    up_down_->setPosition(division_position(typed.toStdString()));
  });
  connect(up_down_, &UpDownWidget::moved, this,
          [this](int position) { count_box_->setText(QString::number(position)); });
}

void RangeEditDialog::accept() {
  const int count =
      range_edit_count(count_box_->text().toStdString(), set_value_radio_->isChecked());
  changed_ = apply_range_edit(row_, range_box_->text().toStdString(), count) == 1;
  QDialog::accept();
}

}  // namespace torvane::gui
