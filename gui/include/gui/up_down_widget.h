// A small up-down control: two arrow buttons over a position within a
// range. It is not tied to a box; its owner copies the position where it
// wants it and tells it of a position typed elsewhere. GUI thread only.
#pragma once

#include <QWidget>

class QToolButton;

namespace torvane::gui {

class UpDownWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit UpDownWidget(QWidget* parent = nullptr);

  // The bounds of a move; the position itself is left as it is.
  void setRange(int minimum, int maximum);
  int position() const { return position_; }
  // Any value, in range or not (0 stands for "no number"); no signal.
  void setPosition(int position);
  // Moves by `steps` (up is positive) and stops at the bounds; a position
  // out of range comes into it. `moved` follows a change.
  void step(int steps);

  QToolButton& up_button() { return *up_; }
  QToolButton& down_button() { return *down_; }

 Q_SIGNALS:
  void moved(int position);

 private:
  QToolButton* up_;
  QToolButton* down_;
  int minimum_ = 0;
  int maximum_ = 100;
  int position_ = 0;
};

}  // namespace torvane::gui
