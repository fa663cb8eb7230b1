// The main window's right pane: the add-items panel over the header log.
// With LogView 2 the panel takes the whole pane and the log is hidden;
// otherwise the log lies below the panel, and the panel's bottom edge is the
// one the user drags (log_pane_layout decides, and LogHeight follows it
// into the settings, which the window saves after its loop).
//
// The header log is a read-only box that keeps at most kHeaderLogLimit
// characters: the oldest text gives way as new text comes (header_log_cut).
//
// Lifetime: the manager and the INI outlive it; destroying it destroys the
// panel, which writes its history. GUI thread only.
#pragma once

#include <QWidget>
#include <string_view>

#include "core/queue/download_manager.h"
#include "core/settings/ini_access.h"

class QPlainTextEdit;

namespace torvane::gui {

class AddItemsPanel;

class RightPaneWidget final : public QWidget {
  Q_OBJECT
 public:
  RightPaneWidget(DownloadManager& manager, const IniAccess& ini, QWidget* parent = nullptr);
  ~RightPaneWidget() override;  // the panel writes its history keys (closing)

  // Appends `text` (its own "\r\n" line ends, no newline added) at the end
  // of the log, first removing from the start what the limit asks; the
  // caret goes after it and the log scrolls to it.
  void append_header_log(std::string_view text);
  // LogView changed (the menu's toggle): lays the pane out again.
  void relayout();

  AddItemsPanel& panel() { return *panel_; }
  QPlainTextEdit& header_log() { return *log_; }
  // The panel's bottom edge, which the user drags.
  QWidget& panel_edge() { return *edge_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Lays the pane out for the panel's bottom edge at `panel_height`.
  void lay_out(int panel_height);

  DownloadManager& manager_;
  AddItemsPanel* panel_;
  QWidget* edge_;
  QPlainTextEdit* log_;
  // Whether the last layout showed the log; until then the panel fills
  // the pane, and the stored LogHeight places it at the first showing.
  bool log_shown_ = false;
};

}  // namespace torvane::gui
