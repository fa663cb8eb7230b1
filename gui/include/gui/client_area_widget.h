// The main window's client area between the toolbars and the status bar:
// the left pane, the splitter bar and the right pane side by side. The bar
// keeps its place in proportion when the width changes, never closer than
// 150 pixels to the left or 200 to the right edge, and follows a drag
// within the same bounds. GUI thread only.
#pragma once

#include <QWidget>

namespace torvane::gui {

class SplitterBarWidget;

class ClientAreaWidget final : public QWidget {
  Q_OBJECT
 public:
  // Takes the two panes as its children.
  ClientAreaWidget(QWidget* left, QWidget* right, QWidget* parent = nullptr);

  // The bar's left edge.
  int splitter_x() const { return splitter_x_; }
  // Puts the bar at `x` as it stands, for the width `width` (the width
  // the bar's place was chosen for: the next layout scales from it).
  void place_splitter(int x, int width);
  SplitterBarWidget& splitter() { return *bar_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void on_drag(int x);
  void lay_out();

  QWidget* left_;
  QWidget* right_;
  SplitterBarWidget* bar_;
  int splitter_x_;
  // The width of the last layout: the width of a new window until then.
  int last_width_;
  int last_drag_x_ = -1;
};

}  // namespace torvane::gui
