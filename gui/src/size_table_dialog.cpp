#include "gui/size_table_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/qt_text.h"
#include "gui/range_edit_dialog.h"
#include "gui/report_list.h"

namespace torvane::gui {

namespace {

constexpr int kRangeWidth = 150;
constexpr int kCountWidth = 50;

}  // namespace

SizeTableDialog::SizeTableDialog(const IniAccess& ini, QWidget* parent)
    : QDialog(parent), ini_(ini), rows_(read_size_table(ini)), list_(new QTableWidget(this)) {
  setWindowTitle(QString::fromUtf8("分割数->詳細設定"));

  list_->setColumnCount(2);
  list_->setHorizontalHeaderLabels({QString::fromUtf8("範囲"), QStringLiteral("Div")});
  list_->setColumnWidth(0, kRangeWidth);
  list_->setColumnWidth(1, kCountWidth);
  set_up_report_list(*list_);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->setRowCount(static_cast<int>(rows_.size()));
  for (int i = 0; i < list_->rowCount(); ++i) show_row(i);

  const auto button = [this](const char* caption, void (SizeTableDialog::*action)()) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, action);
    buttons_.push_back(b);
    return b;
  };
  auto* side = new QVBoxLayout;
  side->addWidget(button("追加", &SizeTableDialog::add));
  side->addWidget(button("編集", &SizeTableDialog::edit));
  side->addWidget(button("削除", &SizeTableDialog::remove));
  side->addStretch();
  button("OK", &SizeTableDialog::accept)->setDefault(true);
  side->addWidget(buttons_.back());
  side->addWidget(button("Cancel", &SizeTableDialog::reject));

  auto* table = new QVBoxLayout;
  table->addWidget(new QLabel(QString::fromUtf8("Start-End (byte)     -1：設定値"), this));
  table->addWidget(list_, 1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(table, 1);
  layout->addLayout(side);
  // Both columns and the frame: the list shows its rows without a scroll
  // bar across.
  list_->setMinimumWidth(kRangeWidth + kCountWidth + 2 * list_->frameWidth() + 20);
  resize(sizeHint().width(), 260);
}

QPushButton* SizeTableDialog::button(const QString& caption) const {
  for (QPushButton* b : buttons_) {
    if (b->text() == caption) return b;
  }
  return nullptr;
}

void SizeTableDialog::show_row(int row) {
  const SizeRow& r = rows_[static_cast<std::size_t>(row)];
  list_->setItem(row, 0, new QTableWidgetItem(qt_text(r.range)));
  list_->setItem(row, 1, new QTableWidgetItem(QString::number(r.count)));
}

int SizeTableDialog::selected_row() const {
  const QList<QTableWidgetSelectionRange> ranges = list_->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void SizeTableDialog::add() {
  RangeEditDialog editor(SizeRow{format_range({}), 1}, this);
  if (editor.exec() != QDialog::Accepted) return;
  rows_.push_back(editor.row());
  list_->setRowCount(static_cast<int>(rows_.size()));
  show_row(list_->rowCount() - 1);
}

void SizeTableDialog::edit() {
  const int row = selected_row();
  if (row < 0) return;
  RangeEditDialog editor(rows_[static_cast<std::size_t>(row)], this);
  if (editor.exec() != QDialog::Accepted || !editor.changed()) return;
  rows_[static_cast<std::size_t>(row)] = editor.row();
  show_row(row);
}

void SizeTableDialog::remove() {
  const int row = selected_row();
  if (row < 0) return;
  rows_.erase(rows_.begin() + row);
  list_->removeRow(row);
}

void SizeTableDialog::accept() {
  write_size_table(ini_, rows_);
  QDialog::accept();
}

}  // namespace torvane::gui
