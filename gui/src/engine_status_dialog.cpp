#include "gui/engine_status_dialog.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/queue/download_manager.h"
#include "gui/qt_text.h"

namespace torvane::gui {

namespace {

// The buttons' column beside the box, the buttons in it, and where the
// second and third button stand below the first.
constexpr int kColumnWidth = 50;
constexpr int kButtonWidth = 45;
constexpr int kButtonHeight = 22;
constexpr int kThreadButtonY = 27;
constexpr int kCancelButtonY = 81;
constexpr int kCaptionPadding = 10;

}  // namespace

EngineStatusDialog::EngineStatusDialog(DownloadManager& manager, QWidget* parent)
    : QDialog(parent),
      manager_(manager),
      box_(new QPlainTextEdit(this)),
      item_(new QPushButton(QStringLiteral("Item"), this)),
      threads_(new QPushButton(QString::fromUtf8("スレッド"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
  setWindowTitle(QString::fromUtf8("Torvane動作状況 (デバッグ用)"));
  box_->setReadOnly(true);
  box_->setLineWrapMode(QPlainTextEdit::NoWrap);

  auto* column = new QVBoxLayout;
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  // 45 pixels, or as wide as the longest caption needs in this font, so
  // that "スレッド" is not cut; the column keeps its margin around them.
  int button_width = kButtonWidth;
  for (QPushButton* b : {item_, threads_, cancel_}) {
    button_width =
        std::max(button_width, b->fontMetrics().horizontalAdvance(b->text()) + kCaptionPadding);
  }
  for (QPushButton* b : {item_, threads_, cancel_}) {
    b->setFixedSize(button_width, kButtonHeight);
    b->setAutoDefault(false);
  }
  column->addWidget(item_, 0, Qt::AlignHCenter);
  column->addSpacing(kThreadButtonY - kButtonHeight);
  column->addWidget(threads_, 0, Qt::AlignHCenter);
  column->addSpacing(kCancelButtonY - kThreadButtonY - kButtonHeight);
  column->addWidget(cancel_, 0, Qt::AlignHCenter);
  column->addStretch();
  auto* side = new QWidget(this);
  side->setFixedWidth(kColumnWidth - kButtonWidth + button_width);
  side->setLayout(column);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(box_, 1);
  layout->addWidget(side);

  connect(item_, &QPushButton::clicked, this, [this] { show_status(false); });
  connect(threads_, &QPushButton::clicked, this, [this] { show_status(true); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  resize(360, 420);
}

void EngineStatusDialog::show_status(bool threads) {
  box_->setPlainText(for_display(manager_.engine_status(threads)));
}

}  // namespace torvane::gui
