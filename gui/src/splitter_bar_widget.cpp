#include "gui/splitter_bar_widget.h"

#include <QMouseEvent>

#include "core/settings/window_geometry.h"

namespace torvane::gui {

SplitterBarWidget::SplitterBarWidget(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setFixedWidth(kSplitterWidth);
  setCursor(Qt::SizeHorCursor);
}

void SplitterBarWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QFrame::mousePressEvent(event);
  // Qt keeps the mouse with the widget pressed until the button is let go,
  // as a capture would.
  Q_EMIT drag_started(mapToParent(event->position().toPoint()).x());
}

void SplitterBarWidget::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return QFrame::mouseMoveEvent(event);
  Q_EMIT dragged(mapToParent(event->position().toPoint()).x());
}

}  // namespace torvane::gui
