// The bar between the left and the right pane: 5 pixels wide and sunken,
// with the east-west size cursor over it. Dragging it reports the cursor's
// x in the parent's coordinates; the parent decides where the bar goes.
// GUI thread only.
#pragma once

#include <QFrame>

namespace torvane::gui {

class SplitterBarWidget final : public QFrame {
  Q_OBJECT
 public:
  explicit SplitterBarWidget(QWidget* parent);

 Q_SIGNALS:
  // The left button went down on the bar (x: the cursor in the parent).
  void drag_started(int x);
  // The cursor moved while the bar holds the mouse.
  void dragged(int x);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
};

}  // namespace torvane::gui
