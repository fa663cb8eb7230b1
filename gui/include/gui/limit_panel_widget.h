// The simultaneous-download panel beside the toolbar: "同時DL数/", the limit
// in force as "%.3d", and an up-down control (1 to 999) that asks the
// engine for a new limit. The text changes only once the engine has
// answered (limit_changed, which the main window passes on from the
// manager's view); a taken change also starts waiting items up to the new
// limit. GUI thread only.
#pragma once

#include <QWidget>

class QLabel;

namespace torvane {
class DownloadManager;
}

namespace torvane::gui {

class UpDownWidget;

class LimitPanelWidget final : public QWidget {
  Q_OBJECT
 public:
  LimitPanelWidget(DownloadManager& manager, int limit, QWidget* parent = nullptr);

  // The limit the text shows.
  int shown() const;
  // The engine's answer to a change: ok 1 applied (the text shows `limit`),
  // 0 not (the text keeps its figure, and the up-down goes back to it).
  void limit_changed(int ok, int limit);
  UpDownWidget& up_down() { return *up_down_; }
  QLabel& limit_text() { return *text_; }

 private:
  void show_limit(int limit);

  DownloadManager& manager_;
  QLabel* text_;
  UpDownWidget* up_down_;
};

}  // namespace torvane::gui
