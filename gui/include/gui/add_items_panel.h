// The add-items panel, the user's way in for downloads: the save folder and
// the division, a URL box with its pattern expansion, and a text box that
// the clipboard, the expansion and drops fill and whose lines register as
// items. Every rule it follows is the core's (core/queue/add_items_panel.h,
// core/settings/add_items_history.h); the panel reads its boxes, calls the
// core and shows what comes back.
//
// It opens with the history stored in the program INI and writes it back
// when it is destroyed. The two combo boxes' lists mirror the history's
// vectors, newest first. The panel is its own drop target: a dropped text,
// or the path of the first dropped file, replaces the text box.
//
// Lifetime: the manager and the INI outlive it. GUI thread only.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "core/queue/add_items_panel.h"
#include "core/queue/download_manager.h"
#include "core/settings/add_items_history.h"
#include "core/settings/ini_access.h"
#include "gui/drop_target.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace torvane::gui {

class UpDownWidget;

class AddItemsPanel final : public QWidget {
  Q_OBJECT
 public:
  AddItemsPanel(DownloadManager& manager, const IniAccess& ini, QWidget* parent = nullptr);
  ~AddItemsPanel() override;  // writes the history

  // Writes the boxes' texts and the lists into the program INI: 0, or -1
  // when a write failed.
  int write_history() const;
  const AddItemsHistory& history() const { return history_; }

  // The buttons' actions, as a click runs them.
  void browse_folder();
  void open_folder();
  void expand_url();
  void register_url();
  void register_clipboard();
  void paste_clipboard();
  void extract_clipboard_urls();
  void expand_clipboard();
  void register_text();

  QComboBox& save_box() { return *save_box_; }
  QComboBox& url_box() { return *url_box_; }
  QLineEdit& division_box() { return *division_box_; }
  UpDownWidget& division_up_down() { return *up_down_; }
  QPlainTextEdit& text_box() { return *text_box_; }
  // Buttons by caption; two are "登録": `second` picks the text box's.
  QPushButton* button(const QString& caption, bool second = false) const;

 Q_SIGNALS:
  // "詳細": the size table's editor is wanted.
  void details_requested();

 private:
  void build();
  PanelTarget target(std::string& division, std::string& folder) const;
  // Both combo lists from the history, the typed texts left as they are.
  void refresh_lists();
  void set_text_box(const std::string& text);
  void on_drop(int code, DropEvent& event);

  DownloadManager& manager_;
  const IniAccess& ini_;
  AddItemsHistory history_;
  QComboBox* save_box_;
  QComboBox* url_box_;
  QLineEdit* division_box_;
  UpDownWidget* up_down_;
  QPlainTextEdit* text_box_;
  std::vector<QPushButton*> buttons_;  // in the order they are made
};

}  // namespace torvane::gui
