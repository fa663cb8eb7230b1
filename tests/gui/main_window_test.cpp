// The main window: its first geometry, what it stores when it closes and
// restores at the next start, and the commands on selected rows.
#include <gmock/gmock.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>

#include "gui/client_area_widget.h"
#include "gui/item_list_model.h"
#include "gui/list_pane_widget.h"
#include "tests/gui/gui_fixture.h"

namespace torvane::test {
namespace {

using namespace ::testing;
using gui::MainWindow;

class MainWindowTest : public WindowTest {
 protected:
  // The window once it shows an item per path; `served` ones are held slowly.
  MainWindow& open_with(std::initializer_list<const char*> paths, bool served = true) {
    for (const char* path : paths)
      if (served) serve(path, content(50000), 100);
    MainWindow& window = open();
    for (const char* path : paths) manager_->register_item("1", out(), server_.url(path));
    EXPECT_TRUE(pump_until([&] { return window.model().rowCount() == int(paths.size()); }));
    return window;
  }
  void select_row(int row) {
    QTableView& view = window_->list_pane().item_view();
    view.selectionModel()->select(view.model()->index(row, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
};

// A first run opens 600 by 400 with the splitter at 350; closing stores
// the geometry and the next start restores it.
TEST_F(MainWindowTest, AFirstRunsGeometryTitleAndColumnsAndClosingStoresWhatTheNextStartRestores) {
  MainWindow& window = open();
  bool closed = false;
  QObject::connect(&window, &MainWindow::closed, [&] { closed = true; });
  window.show_at_start();
  EXPECT_EQ(window.size(), QSize(600, 400));
  EXPECT_EQ(window.client_area().splitter_x(), 350);
  EXPECT_EQ(window.windowTitle(), "Torvane GUI Ver0.4.8");
  EXPECT_FALSE(window.windowIcon().isNull());
  QStringList headers;
  for (int c = 0; c < window.model().columnCount(); ++c)
    headers << window.model().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_EQ(headers.join('|'), QString::fromUtf8("状態|ファイル名|Div|状況|速度|保存先|URL"));

  window.move(40, 30);
  window.resize(720, 480);
  window.client_area().place_splitter(260, 720);
  close();
  EXPECT_TRUE(closed);
  EXPECT_THAT(ini_text(), HasSubstr("Iconic=0"));  // the rest comes back below
  MainWindow& again = open();
  again.show_at_start();
  EXPECT_EQ(again.size(), QSize(720, 480));
  EXPECT_EQ(again.pos(), QPoint(40, 30));
  EXPECT_EQ(again.client_area().splitter_x(), 260);
}

// Only with usable geometry (the core's rule).
TEST_F(MainWindowTest, AStoredIconicStartsMinimised) {
  set_ini("[Window]\nX=10\nY=10\nWidth=500\nHeight=300\nIconic=1\n");
  open().show_at_start();
  EXPECT_TRUE(window_->isMinimized());
}

// The context menu grays its commands without a selection; stop acts on
// the selected row only (delete: the next test).
TEST_F(MainWindowTest, TheContextMenuAndStopFollowTheSelection) {
  MainWindow& window = open_with({"/a", "/b"});
  ASSERT_TRUE(pump_until([&] { return states() == std::vector<int>{kDownloading, kDownloading}; }));
  const auto enabled = [&] {
    std::vector<bool> out;
    const std::unique_ptr<QMenu> menu = window.list_pane().make_context_menu();
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) out.push_back(a->isEnabled());
    return out;
  };
  EXPECT_THAT(enabled(), ElementsAre(false, false, false, true));
  select_row(1);
  EXPECT_THAT(enabled(), ElementsAre(true, true, true, true));
  window.run_command(gui::kCmdStop);
  ASSERT_TRUE(pump_until([&] { return states() == std::vector<int>{kDownloading, kResting}; }));
}

// A row removed a moment ago (its change still queued for the window) must
// not make a command hit the item below the one the user selected.
TEST_F(MainWindowTest, ACommandActsOnTheItemShownEvenWhileAChangeIsQueued) {
  MainWindow& window = open_with({"/a", "/b", "/c"});
  manager_->remove_item(0, RemoveMode::kQuiet);  // queued for the window, not yet shown
  select_row(1);                                 // "/b" as the window shows it
  window.run_command(gui::kCmdDelete);
  EXPECT_EQ(manager_->with_items([](const ItemList& l) { return std::string(l.at(0)->url); }),
            server_.url("/c"));
}

// A download of 5 GiB (its server sends a slice where each of its five
// divisions begins, then stalls) shows its whole size in its row and in the
// focused row's details, the last division starting at 4 GiB.
TEST_F(MainWindowTest, ARowPast4GiBShowsItsWholeSize) {
  server_.set_handler([](const HttpRequest& r) { return announced_reply(r, 5ull << 30, 65536); });
  MainWindow& window = open();
  manager_->register_item("5", out(), server_.url("/five.img"));
  ASSERT_TRUE(pump_until([&] { return window.model().rowCount() == 1; }));
  window.list_pane().item_view().setCurrentIndex(window.model().index(0, 1));
  const auto progress = [&] {
    return window.model().data(window.model().index(0, 3), Qt::DisplayRole).toString();
  };
  QTreeWidget& details = window.list_pane().detail_list();
  const QString last = QString::fromUtf8("004/Status:ＤＬ | Try 01/05 | 65536 / 1073741824 (0%)");
  ASSERT_TRUE(pump_until([&] { return progress() == "327680 / 5368709120 (0%)"; }))
      << progress().toStdString();
  // The slices may all have come before the row had the focus: a click
  // writes the details of a download that sends nothing more.
  QTableView& view = window.list_pane().item_view();
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                    view.visualRect(window.model().index(0, 1)).center());
  ASSERT_TRUE(pump_until([&] {
    return details.topLevelItemCount() == 5 && details.topLevelItem(4)->text(0) == last;
  }));
}

// The core asks for the focused row from its own threads (whose details to
// write): it must follow the row when rows above it leave the list, and
// when the focused row itself leaves. The rows fail (404) and say why in
// their tooltips (their details are the window calls' click test).
TEST_F(MainWindowTest, TheFocusedRowTheCoreSeesFollowsRemovalsOfFailedRows) {
  MainWindow& window = open_with({"/m0", "/m1", "/m2", "/m3"}, false);
  ASSERT_TRUE(pump_until([&] {
    return states()[0] == kFailed && window.model()
                                         .data(window.model().index(0, 0), Qt::ToolTipRole)
                                         .toString()
                                         .contains("404");
  }));
  QTableView& view = window.list_pane().item_view();
  view.setCurrentIndex(window.model().index(2, 0));
  ASSERT_EQ(queued_.focused_row(), 2);
  struct Step {
    int removed, focused;
  };
  for (const Step s : {Step{0, 1}, Step{0, 0}, Step{0, 0}}) {
    const int rows = window.model().rowCount();
    manager_->remove_item(s.removed, RemoveMode::kRedraw);
    ASSERT_TRUE(pump_until([&] { return window.model().rowCount() == rows - 1; }));
    EXPECT_EQ(window.list_pane().focused_row(), s.focused) << rows;
    EXPECT_EQ(queued_.focused_row(), s.focused) << rows;
  }
}

// The windows the menus open, opened twice or not, and a message shown
// without an owner go with the main window, the message when the window
// closes, not after the ending's wait (the ASan run would name any leak).
TEST_F(MainWindowTest, EveryWindowTheMenusOpenAndAnUnownedMessageGoWithTheMainWindow) {
  MainWindow& window = open();
  window.show_at_start();
  std::vector<QPointer<QWidget>> opened;
  for (int twice = 0; twice < 2; ++twice)
    for (const int id :
         std::initializer_list<int>{gui::kCmdSettings, gui::kCmdServers, gui::kCmdHistory,
                                    gui::kCmdEngineStatus, gui::kSizeTableEditor})
      window.run_command(id);
  for (QWidget* dialog : window.open_dialogs()) {
    opened.emplace_back(dialog);
    EXPECT_TRUE(dialog->isVisible()) << dialog->windowTitle().toStdString();
  }
  EXPECT_EQ(opened.size(), 10u);
  window.show_message("m", "c", MessageOwner::kNone, MessageIcon::kWarning);
  QPointer<QMessageBox> box;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->text() == "m") box = b;
  ASSERT_TRUE(!box.isNull() && box->isVisible());
  window.close();
  EXPECT_FALSE(box->isVisible());
  close();
  EXPECT_TRUE(box.isNull());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (const QPointer<QWidget>& dialog : opened) EXPECT_TRUE(dialog.isNull());
}

}  // namespace
}  // namespace torvane::test
