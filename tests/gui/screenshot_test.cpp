// The whole road of a download in the window, and pictures of the main
// window for people to look at (screenshot.h): empty; with downloads from
// nginx running, one of them a URL typed into the add-items panel, and the
// header log filled; with the log hidden. The typed one finishes, leaves
// the list, and its file is the server's, byte for byte.
#include "tests/gui/screenshot.h"

#include <gmock/gmock.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "gui/add_items_panel.h"
#include "gui/item_list_model.h"
#include "gui/list_pane_widget.h"
#include "gui/right_pane_widget.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/real_peers.h"

namespace torvane::test {
namespace {

TEST_F(WindowTest, AUrlFromThePanelProgressesAndFinishesAndScreenshots) {
  set_ini(
      "[SETTING]\nLogView=0\nSAVE_T=/home/user/ダウンロード/\nSAVE_0=/home/user/ダウンロード/\n"
      "Div=4\n[Window]\nX=0\nY=0\nWidth=900\nHeight=520\nDivBarX=520\n");
  {
    gui::MainWindow& window = open();
    window.show_at_start();
    ASSERT_TRUE(pump_until([&] { return !window.status_part(0).text().isEmpty(); }));
    save_screenshot(window, "main-window-empty.png");
  }
  close();
  // Slow enough per connection that the pictures show them running, with
  // speeds; the typed one, smaller, finishes a few seconds later.
  const std::vector<std::string> names = {"ubuntu-24.04-desktop.iso", "写真アルバム.zip",
                                          "data.tar.gz"};
  for (const std::string& name : names)
    ASSERT_TRUE(write_file(dir_ / name, pattern_bytes(8'000'000, 5)));
  const std::string body = pattern_bytes(5'000'000, 9);
  ASSERT_TRUE(write_file(dir_ / "big.bin", body));
  RealPeer nginx("nginx", dir_.path(), "limit_rate 200k;");
  if (!nginx.ok()) {
    if (peers_required()) FAIL() << nginx.error();
    GTEST_SKIP() << nginx.error();
  }
  gui::MainWindow& window = open();
  window.show_at_start();
  gui::AddItemsPanel& panel = window.right_pane().panel();
  panel.save_box().setEditText(QString::fromStdString(out()));
  panel.division_box().setText("4");
  panel.url_box().setEditText(QString::fromStdString(nginx.url("/big.bin")));
  QTest::mouseClick(panel.button(QString::fromUtf8("登録")), Qt::LeftButton);
  panel.save_box().setEditText(QString::fromUtf8("/home/user/ダウンロード/"));  // for the picture
  for (const std::string& name : names) manager_->register_item("4", out(), nginx.url("/" + name));
  manager_->register_item("1", out(), nginx.url("/missing.bin"));
  const QAbstractItemModel& model = window.model();
  const auto cell = [&](int column) { return model.data(model.index(0, column)).toString(); };
  ASSERT_TRUE(pump_until([&] {
    return model.rowCount() == 5 &&
           states() ==
               std::vector<int>{kDownloading, kDownloading, kDownloading, kDownloading, kFailed};
  }));
  window.list_pane().item_view().selectRow(0);
  // Two ticks: the progress and a speed.
  (void)pump_until([] { return false; }, std::chrono::milliseconds(2200));
  const QString progress = cell(3);
  EXPECT_TRUE(progress.contains("%)") && !progress.startsWith("???") &&
              !progress.contains("(100%)"))
      << progress.toStdString();
  EXPECT_EQ(cell(0), QString::fromUtf8("DL(File)"));
  EXPECT_EQ(cell(2), "4");
  manager_->show_focused_details();
  ASSERT_TRUE(pump_until([&] { return window.list_pane().detail_list().topLevelItemCount() > 0; }));
  ASSERT_TRUE(
      pump_until([&] { return !window.right_pane().header_log().toPlainText().isEmpty(); }));
  save_screenshot(window, "main-window-running.png");
  window.run_command(gui::kCmdHeaderLog);
  save_screenshot(window, "main-window-log-hidden.png");
  ASSERT_TRUE(pump_until([&] { return model.rowCount() == 4; }, std::chrono::seconds(30)));
  EXPECT_TRUE(read_file(out() + "big.bin") == body);
}

}  // namespace
}  // namespace torvane::test
