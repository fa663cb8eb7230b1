#include "gui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <functional>

#include "core/settings/window_geometry.h"
#include "gui/add_items_panel.h"
#include "gui/client_area_widget.h"
#include "gui/engine_status_dialog.h"
#include "gui/history_dialog.h"
#include "gui/item_list_model.h"
#include "gui/limit_panel_widget.h"
#include "gui/list_pane_widget.h"
#include "gui/qt_text.h"
#include "gui/queued_view.h"
#include "gui/right_pane_widget.h"
#include "gui/servers_dialog.h"
#include "gui/settings_dialog.h"
#include "gui/size_table_dialog.h"
#include "gui/toolbar_icons.h"

namespace torvane::gui {

namespace {

// The toolbar in order: the image and the command of each button, 0 for a
// separator; and each button's tooltip.
struct ToolButton {
  int image;
  int command;
  const char* tip;
};
constexpr ToolButton kToolButtons[] = {
    {0, kCmdStartAll, "すべてダウンロード開始"},
    {1, kCmdStopAll, "すべてダウンロード停止"},
    {-1, 0, nullptr},
    {2, kCmdStart, "ダウンロード開始"},
    {3, kCmdStop, "ダウンロード停止"},
    {4, kCmdRetry, "ダウンロードの再試行\n(停止＆開始)"},
    {-1, 0, nullptr},
    {5, kCmdDelete, "アイテムの削除"},
    {6, kCmdDeleteAll, "すべてのアイテムの削除"},
};

// The status bar's first two parts end at these x; the third takes the rest.
constexpr int kStatusPart0 = 140;
constexpr int kStatusPart1 = 360;

constexpr char kTitle[] = "Torvane GUI Ver0.4.8";

}  // namespace

MainWindow::MainWindow(DownloadManager& manager, QueuedView& view, const IniAccess& ini,
                       const Clock& clock)
    : manager_(manager),
      view_(view),
      ini_(ini),
      clock_(clock),
      stored_(read_window_geometry(ini)),
      model_(new ItemListModel(manager, this)),
      list_pane_(new ListPaneWidget(model_)),
      right_pane_(new RightPaneWidget(manager, ini)),
      client_(new ClientAreaWidget(list_pane_, right_pane_, this)) {
  setObjectName(QStringLiteral("Torvane GUI"));
  setWindowTitle(QString::fromUtf8(kTitle));
  setWindowIcon(app_icon());
  setCentralWidget(client_);
  setMinimumSize(kMinWindowWidth, kMinWindowHeight);
  build_toolbars();
  build_menus();
  build_status_bar();
  restore_geometry();

  connect(list_pane_, &ListPaneWidget::command, this, &MainWindow::run_command);
  connect(&right_pane_->panel(), &AddItemsPanel::details_requested, this,
          [this] { run_command(kSizeTableEditor); });
  connect(list_pane_, &ListPaneWidget::item_clicked, this,
          [this] { in_step([this] { manager_.show_focused_details(); }); });
  connect(list_pane_, &ListPaneWidget::focus_changed, this,
          [this](int row) { view_.set_focused_row(row); });

  view_.attach(this);
  manager_.load_list();

  connect(&tick_, &QTimer::timeout, this, [this] { manager_.tick(clock_.tick_ms()); });
  tick_.start(1000);
  // The clock in the status bar at once, and the first speed measured from now.
  manager_.tick(clock_.tick_ms());
}

MainWindow::~MainWindow() {
  view_.attach(nullptr);
  // The messages without an owner are not children of the window: they go
  // with it all the same (their deferred deletion would find no loop left).
  for (const QPointer<QWidget>& d : dialogs_) delete d.data();
}

void MainWindow::build_toolbars() {
  // Bands of the bar across the top: they may change places there, but
  // neither float nor dock at another edge.
  const auto band_of = [this](const QString& name) {
    QToolBar* bar = addToolBar(name);
    bar->setObjectName(name);
    bar->setFloatable(false);
    bar->setAllowedAreas(Qt::TopToolBarArea);
    return bar;
  };
  toolbar_ = band_of(QStringLiteral("toolbar"));
  toolbar_->setIconSize(QSize(16, 16));
  for (const ToolButton& b : kToolButtons) {
    if (b.command == 0) {
      toolbar_->addSeparator();
      continue;
    }
    QAction* action = toolbar_->addAction(toolbar_icon(b.image), QString::fromUtf8(b.tip));
    action->setData(b.command);
    action->setToolTip(QString::fromUtf8(b.tip));
    connect(action, &QAction::triggered, this, [this, id = b.command] { run_command(id); });
  }
  QToolBar* band = band_of(QStringLiteral("limit"));
  const int limit = manager_.with_settings([](ProgramSettings& s) { return s.max_dl_files; });
  limit_panel_ = new LimitPanelWidget(manager_, limit);
  band->addWidget(limit_panel_);
}

QMenu* MainWindow::createPopupMenu() {
  // No menu of the bands' names over the bars: the bands are always shown.
  return nullptr;
}

QAction* MainWindow::command_action(const QString& text, int id) {
  auto* action = new QAction(text, this);
  action->setData(id);
  connect(action, &QAction::triggered, this, [this, id] { run_command(id); });
  actions_.push_back(action);
  return action;
}

void MainWindow::build_menus() {
  QMenu* program = menuBar()->addMenu(QStringLiteral("Torvane(&S)"));
  program->addAction(command_action(QString::fromUtf8("設定(&S)"), kCmdSettings));
  program->addSeparator();
  program->addAction(command_action(QString::fromUtf8("動作状況(&M)"), kCmdEngineStatus));
  program->addSeparator();
  program->addAction(command_action(QString::fromUtf8("終了(&E)"), kCmdExit));

  QMenu* show = menuBar()->addMenu(QString::fromUtf8("表示(&V)"));
  QAction* log = command_action(QString::fromUtf8("HTTPヘッダのログ(&L)"), kCmdHeaderLog);
  log->setCheckable(true);
  // The action's own toggling is undone: the command decides the check.
  log->setChecked(manager_.with_settings([](ProgramSettings& s) { return s.log_view != 2; }));
  show->addAction(log);
  show->addSeparator();
  show->addAction(command_action(QString::fromUtf8("ダウンロードの履歴(&H)"), kCmdHistory));

  QMenu* servers = menuBar()->addMenu(QString::fromUtf8("サーバー(&H)"));
  servers->addAction(command_action(QString::fromUtf8("編集(&E)"), kCmdServers));
}

void MainWindow::build_status_bar() {
  for (std::size_t i = 0; i < status_.size(); ++i) {
    status_[i] = new QLabel(this);
    status_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusBar()->addWidget(status_[i], i == 2 ? 1 : 0);
  }
  // At least the parts' widths; a text that needs more (this font is wider
  // than the one the widths were chosen for) widens its part.
  status_[0]->setMinimumWidth(kStatusPart0);
  status_[1]->setMinimumWidth(kStatusPart1 - kStatusPart0);
  statusBar()->setSizeGripEnabled(true);
}

QAction* MainWindow::menu_action(int id) const {
  for (QAction* action : actions_) {
    if (action->data().toInt() == id) return action;
  }
  return nullptr;
}

void MainWindow::restore_geometry() {
  int width = kDefaultWindowWidth;
  if (stored_.placed()) {
    move(stored_.x, stored_.y);
    resize(stored_.width, stored_.height);
    width = stored_.width;
  } else {
    resize(kDefaultWindowWidth, kDefaultWindowHeight);
  }
  if (stored_.has_splitter()) client_->place_splitter(stored_.div_bar_x, width);
}

void MainWindow::show_at_start() {
  if (stored_.starts_minimised()) {
    showMinimized();
  } else {
    show();
  }
  raise();
}

WindowGeometry MainWindow::current_geometry() const {
  // Stored as the program restores it: the frame's place and the client's
  // size, of the normal (not maximised) window.
  const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
  const QPoint frame_offset = geometry().topLeft() - frameGeometry().topLeft();
  WindowGeometry g;
  // Under Wayland a window does not know its place: it reads as the frame's
  // margins off the origin, and a negative value would make the next start
  // forget the size as well.
  g.x = std::max(normal.x() - frame_offset.x(), 0);
  g.y = std::max(normal.y() - frame_offset.y(), 0);
  g.width = normal.width();
  g.height = normal.height();
  g.iconic = isMinimized() ? 1 : 0;
  g.div_bar_x = client_->splitter_x();
  return g;
}

std::vector<QWidget*> MainWindow::open_dialogs() const {
  std::vector<QWidget*> open;
  for (const QPointer<QWidget>& d : dialogs_) {
    if (!d.isNull()) open.push_back(d.data());
  }
  return open;
}

void MainWindow::in_step(const std::function<void()>& action) {
  // The rows shown may be a queued change behind the list (a download that
  // finished a moment ago). Under the manager's lock the list cannot move:
  // the changes queued so far are replayed first, so that a selected row
  // names the item the user sees when the command reaches the manager.
  manager_.with_items([&](const ItemList&) {
    QCoreApplication::sendPostedEvents(&view_, QEvent::MetaCall);
    action();
    return 0;
  });
}

void MainWindow::for_selected(const std::function<void(int)>& action) {
  in_step([&] {
    for (const int row : list_pane_->selected_rows()) {
      action(row);
      model_->redraw_rows(row, row);
    }
  });
}

void MainWindow::run_command(int id) {
  switch (id) {
    case kCmdStart:
      for_selected([this](int k) { manager_.scheduler_pass(k, true); });
      break;
    case kCmdStop:
      for_selected([this](int k) { manager_.stop_item(k); });
      break;
    case kCmdRetry:
      for_selected([this](int k) { manager_.reconnect_item(k); });
      break;
    case kCmdStartAll:
      manager_.scheduler_pass(-1, true);
      model_->redraw_rows(0, -1);
      break;
    case kCmdStopAll:
      manager_.stop_all();
      model_->redraw_rows(0, -1);
      break;
    case kCmdDelete:
      in_step([this] { manager_.delete_rows(list_pane_->selected_rows()); });
      break;
    case kCmdDeleteAll:
      manager_.delete_all();
      break;
    case kCmdHeaderLog:
      toggle_header_log();
      break;
    case kCmdSettings:
    case kCmdServers:
    case kCmdHistory:
    case kCmdEngineStatus:
    case kSizeTableEditor:
      open_dialog(id);
      break;
    case kCmdExit:
    case kCmdClose:
      close();
      break;
    default:
      break;
  }
}

void MainWindow::toggle_header_log() {
  QAction* log = menu_action(kCmdHeaderLog);
  // The triggered action has already flipped its check; what was shown
  // before decides.
  const bool was_shown = manager_.with_settings([](ProgramSettings& s) {
    const bool shown = s.log_view != 2;
    s.log_view = shown ? 2 : 0;
    return shown;
  });
  log->setChecked(!was_shown);
  right_pane_->relayout();
}

QDialog* MainWindow::make_dialog(int id) {
  switch (id) {
    case kCmdServers:
      return new ServersDialog(manager_.folder(), this);
    case kCmdEngineStatus:
      return new EngineStatusDialog(manager_, this);
    case kCmdHistory:
      return new HistoryDialog(manager_.history_file(), this);
    case kSizeTableEditor:
      return new SizeTableDialog(ini_, this);
    case kCmdSettings:
    default:
      return new SettingsDialog(manager_, this);
  }
}

void MainWindow::open_dialog(int id) {
  // Each use opens a window of its own, as a second use while one is open
  // does too; the window goes when it is closed, or with the main window.
  QDialog* dialog = make_dialog(id);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialogs_.emplace_back(dialog);
  dialog->show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  closing_ = true;
  manager_.close_window(current_geometry());
  tick_.stop();
  hide();
  for (const QPointer<QWidget>& d : dialogs_) {
    if (!d.isNull()) d->close();
  }
  event->accept();
  Q_EMIT closed();
}

// View, replayed on the GUI thread.

void MainWindow::redraw_rows(int first, int last) {
  model_->redraw_rows(first, last);
}
void MainWindow::rows_inserted(int first, int last) {
  model_->rows_inserted(first, last);
}
void MainWindow::rows_removed(int first, int last) {
  model_->rows_removed(first, last);
}
void MainWindow::set_item_count(std::size_t count) {
  model_->set_item_count(count);
}
int MainWindow::focused_row() const {
  return list_pane_->focused_row();
}

void MainWindow::write_detail_row(int row, std::string_view text) {
  list_pane_->write_detail_row(row, text);
}

void MainWindow::clear_detail_rows() {
  list_pane_->clear_detail_rows();
}

void MainWindow::append_header_log(std::string_view text) {
  right_pane_->append_header_log(text);
}

void MainWindow::set_status_text(int part, std::string_view text) {
  if (part < 0 || part >= static_cast<int>(status_.size())) return;
  status_[static_cast<std::size_t>(part)]->setText(qt_text(text));
}

void MainWindow::show_message(std::string_view text, std::string_view caption, MessageOwner owner,
                              MessageIcon icon) {
  const QMessageBox::Icon shown = icon == MessageIcon::kWarning       ? QMessageBox::Warning
                                  : icon == MessageIcon::kInformation ? QMessageBox::Information
                                                                      : QMessageBox::NoIcon;
  auto* box = new QMessageBox(shown, qt_text(caption), qt_text(text), QMessageBox::Ok,
                              owner == MessageOwner::kMainWindow ? this : nullptr);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Shown without waiting: the core goes on whatever the user answers.
  if (owner == MessageOwner::kMainWindow) box->setWindowModality(Qt::WindowModal);
  // One without an owner is closed with the window all the same, rather
  // than left on the screen, unanswerable, while the ending waits.
  if (owner != MessageOwner::kMainWindow) dialogs_.emplace_back(box);
  box->show();
}

void MainWindow::limit_changed(int ok, int limit) {
  limit_panel_->limit_changed(ok, limit);
}

}  // namespace torvane::gui
