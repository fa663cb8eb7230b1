// The main window "Torvane GUI": the toolbar and the simultaneous-download
// panel, the item list with its detail list, the splitter, the add-items
// panel over the header log, the three-part status bar and the menus; the
// commands behind them, the one-second tick, and the closing that writes
// the geometry.
//
// It is the view the core's calls are replayed on (see QueuedView): every
// View function here runs on the GUI thread.
//
// Lifetime: made after the manager started and read its settings; the
// program's loop ends when it closes (close_requested is emitted once the
// manager has been told). GUI thread only.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <vector>

#include "core/queue/download_manager.h"
#include "core/settings/ini_access.h"
#include "core/system/clock.h"
#include "gui/command_ids.h"

class QAction;
class QDialog;
class QToolBar;

namespace torvane::gui {

class ClientAreaWidget;
class ItemListModel;
class LimitPanelWidget;
class ListPaneWidget;
class QueuedView;
class RightPaneWidget;

class MainWindow final : public QMainWindow, public View {
  Q_OBJECT
 public:
  // Builds the window, reads the item list file into the list and restores
  // the stored geometry; show_at_start() shows it.
  MainWindow(DownloadManager& manager, QueuedView& view, const IniAccess& ini, const Clock& clock);
  ~MainWindow() override;

  // Shows the window as the stored geometry says (minimised when it was).
  void show_at_start();

  // Runs a command as a toolbar button, a menu item or the context menu would.
  void run_command(int id);
  // None: the toolbar and the limit panel cannot be hidden.
  QMenu* createPopupMenu() override;

  ItemListModel& model() { return *model_; }
  ListPaneWidget& list_pane() { return *list_pane_; }
  RightPaneWidget& right_pane() { return *right_pane_; }
  ClientAreaWidget& client_area() { return *client_; }
  LimitPanelWidget& limit_panel() { return *limit_panel_; }
  QToolBar& toolbar() { return *toolbar_; }
  QAction* menu_action(int id) const;
  QLabel& status_part(int part) { return *status_[static_cast<std::size_t>(part)]; }
  // The modeless windows opened from the menus, and the messages shown
  // without an owner, that are still open.
  std::vector<QWidget*> open_dialogs() const;

  // View, on the GUI thread.
  void redraw_rows(int first, int last) override;
  void rows_inserted(int first, int last) override;
  void rows_removed(int first, int last) override;
  void set_item_count(std::size_t count) override;
  int focused_row() const override;
  void write_detail_row(int row, std::string_view text) override;
  void clear_detail_rows() override;
  void append_header_log(std::string_view text) override;
  void set_status_text(int part, std::string_view text) override;
  void show_message(std::string_view text, std::string_view caption, MessageOwner owner,
                    MessageIcon icon) override;
  void limit_changed(int ok, int limit) override;

 Q_SIGNALS:
  // The window has closed: the geometry is written and the manager knows.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_toolbars();
  void build_menus();
  void build_status_bar();
  QAction* command_action(const QString& text, int id);
  void restore_geometry();
  WindowGeometry current_geometry() const;
  // The modeless window a command opens, owned by this window.
  QDialog* make_dialog(int id);
  void open_dialog(int id);
  void toggle_header_log();
  // Runs `action` with the shown rows in step with the manager's list.
  void in_step(const std::function<void()>& action);
  void for_selected(const std::function<void(int)>& action);

  DownloadManager& manager_;
  QueuedView& view_;
  const IniAccess& ini_;
  const Clock& clock_;
  WindowGeometry stored_;
  ItemListModel* model_;
  ListPaneWidget* list_pane_;
  RightPaneWidget* right_pane_;
  ClientAreaWidget* client_;
  QToolBar* toolbar_ = nullptr;
  LimitPanelWidget* limit_panel_ = nullptr;
  std::array<QLabel*, 3> status_{};
  std::vector<QAction*> actions_;
  std::vector<QPointer<QWidget>> dialogs_;
  QTimer tick_;
  bool closing_ = false;
};

}  // namespace torvane::gui
