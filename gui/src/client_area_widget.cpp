#include "gui/client_area_widget.h"

#include <QResizeEvent>
#include <algorithm>

#include "core/settings/window_geometry.h"
#include "gui/splitter_bar_widget.h"

namespace torvane::gui {

ClientAreaWidget::ClientAreaWidget(QWidget* left, QWidget* right, QWidget* parent)
    : QWidget(parent),
      left_(left),
      right_(right),
      bar_(new SplitterBarWidget(this)),
      splitter_x_(kDefaultSplitterX),
      last_width_(kDefaultWindowWidth) {
  left_->setParent(this);
  right_->setParent(this);
  connect(bar_, &SplitterBarWidget::drag_started, this, [this](int x) { last_drag_x_ = x; });
  connect(bar_, &SplitterBarWidget::dragged, this, &ClientAreaWidget::on_drag);
}

void ClientAreaWidget::place_splitter(int x, int width) {
  splitter_x_ = x;
  last_width_ = width;
  lay_out();
}

void ClientAreaWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = event->size().width();
  splitter_x_ = splitter_after_resize(splitter_x_, last_width_, w);
  last_width_ = w;
  lay_out();
}

void ClientAreaWidget::on_drag(int x) {
  x = splitter_drag_position(x, width());
  if (x == last_drag_x_) return;
  last_drag_x_ = x;
  splitter_x_ = x;
  lay_out();
}

void ClientAreaWidget::lay_out() {
  const int w = width();
  const int h = height();
  const int x = std::clamp(splitter_x_, 0, std::max(w, 0));
  left_->setGeometry(0, 0, x, h);
  bar_->setGeometry(x, 0, kSplitterWidth, h);
  right_->setGeometry(x + kSplitterWidth, 0, std::max(w - x - kSplitterWidth, 0), h);
}

}  // namespace torvane::gui
