#include "gui/up_down_widget.h"

#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace torvane::gui {

namespace {

QToolButton* arrow_button(Qt::ArrowType arrow, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  // Held down, it keeps stepping, as an up-down control does.
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setFixedSize(16, 11);
  return button;
}

}  // namespace

UpDownWidget::UpDownWidget(QWidget* parent)
    : QWidget(parent),
      up_(arrow_button(Qt::UpArrow, this)),
      down_(arrow_button(Qt::DownArrow, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(up_);
  layout->addWidget(down_);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(up_, &QToolButton::clicked, this, [this] { step(1); });
  connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void UpDownWidget::setRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = std::max(minimum, maximum);
}

void UpDownWidget::setPosition(int position) {
  position_ = position;
}

void UpDownWidget::step(int steps) {
  // Wide, so that a stored position far out of range cannot overflow.
  const long long next =
      std::clamp(static_cast<long long>(position_) + steps, static_cast<long long>(minimum_),
                 static_cast<long long>(maximum_));
  if (next == position_) return;
  position_ = static_cast<int>(next);
  Q_EMIT moved(position_);
}

}  // namespace torvane::gui
