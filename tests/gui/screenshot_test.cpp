// Pictures of the main window for people to look at: empty, with downloads
// from nginx running and the header log filled, and with the log hidden. Written as PNG files into
// the folder TORVANE_SCREENSHOTS names (the test script sets it); without it the test only checks
// that the window draws.
#include "tests/gui/screenshot.h"

#include <gmock/gmock.h>

#include <QDir>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTableView>

#include "gui/item_list_model.h"
#include "gui/list_pane_widget.h"
#include "gui/right_pane_widget.h"
#include "tests/gui/window_fixture.h"
#include "tests/support/real_peers.h"

namespace torvane::test {
namespace {

TEST_F(WindowTest, Screenshots) {
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
  // Slow enough per connection that the pictures show them running, with speeds.
  const std::vector<std::string> names = {"ubuntu-24.04-desktop.iso", "写真アルバム.zip",
                                          "data.tar.gz"};
  for (const std::string& name : names)
    ASSERT_TRUE(write_file(dir_ / name, pattern_bytes(8'000'000, 5)));
  RealPeer nginx("nginx", dir_.path(), "limit_rate 200k;");
  if (!nginx.ok()) {
    if (peers_required()) FAIL() << nginx.error();
    GTEST_SKIP() << nginx.error();
  }
  gui::MainWindow& window = open();
  window.show_at_start();
  for (const std::string& name : names) manager_->register_item("4", out(), nginx.url("/" + name));
  manager_->register_item("1", out(), nginx.url("/missing.bin"));
  ASSERT_TRUE(pump_until([&] {
    return window.model().rowCount() == 4 &&
           states() == std::vector<int>{kDownloading, kDownloading, kDownloading, kFailed};
  }));
  window.list_pane().item_view().selectRow(0);
  // Two ticks: the progress and a speed.
  (void)pump_until([] { return false; }, std::chrono::milliseconds(2200));
  manager_->show_focused_details();
  ASSERT_TRUE(pump_until([&] { return window.list_pane().detail_list().topLevelItemCount() > 0; }));
  ASSERT_TRUE(
      pump_until([&] { return !window.right_pane().header_log().toPlainText().isEmpty(); }));
  save_screenshot(window, "main-window-running.png");
  window.run_command(gui::kCmdHeaderLog);
  save_screenshot(window, "main-window-log-hidden.png");
}

}  // namespace
}  // namespace torvane::test
