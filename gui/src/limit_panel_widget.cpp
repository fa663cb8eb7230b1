#include "gui/limit_panel_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <algorithm>

#include "core/queue/download_manager.h"
#include "gui/up_down_widget.h"

namespace torvane::gui {

namespace {

constexpr int kLowestLimit = 1;
constexpr int kHighestLimit = 999;

}  // namespace

LimitPanelWidget::LimitPanelWidget(DownloadManager& manager, int limit, QWidget* parent)
    : QWidget(parent),
      manager_(manager),
      text_(new QLabel(this)),
      up_down_(new UpDownWidget(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 0);
  layout->setSpacing(2);
  layout->addWidget(new QLabel(QString::fromUtf8("同時DL数/"), this));
  layout->addWidget(text_);
  layout->addWidget(up_down_);
  up_down_->setRange(kLowestLimit, kHighestLimit);
  up_down_->setPosition(limit);
  show_limit(limit);
  // The text waits for the engine's answer; only the request goes out now.
  // One that cannot go out (the slot map could not grow) leaves the up-down
  // where the text is, so the next step starts from the limit in force.
  connect(up_down_, &UpDownWidget::moved, this, [this](int position) {
    if (position > 0 && manager_.change_limit(position) != 0) up_down_->setPosition(shown());
  });
}

int LimitPanelWidget::shown() const {
  return text_->text().toInt();
}

void LimitPanelWidget::show_limit(int limit) {
  text_->setText(QString::asprintf("%.3d", limit));
}

void LimitPanelWidget::limit_changed(int ok, int limit) {
  const int taken = manager_.take_limit_answer(ok == 1, limit, shown());
  show_limit(taken);
  up_down_->setPosition(taken);
}

}  // namespace torvane::gui
