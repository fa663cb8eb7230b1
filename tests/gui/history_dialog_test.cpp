// The download history window and the engine status window: the history
// file as a table with its totals, and the engine's counters of a slot held
// in the middle of a download.
#include "gui/history_dialog.h"

#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include "gui/engine_status_dialog.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/screenshot.h"

namespace torvane::test {
namespace {

using gui::EngineStatusDialog;
using gui::HistoryDialog;
using Cells = std::vector<std::string>;

Cells row_cells(QTableWidget& list, int row) {
  Cells out;
  for (int c = 0; c < list.columnCount(); ++c) {
    const QTableWidgetItem* item = list.item(row, c);
    out.push_back(item == nullptr ? "" : item->text().toStdString());
  }
  return out;
}

TEST(HistoryDialog, RecordsFillTheEightColumnsAndTheTotalsFollow) {
  TempDir dir;
  const std::string file = dir / "tvnlog.txt";
  const auto record = [](const char* date, const char* url, const char* name, const char* size,
                         const char* time, const char* speed) {
    return std::string("Date: ") + date + "\r\nURL: " + url + "\r\nFilename: " + name +
           "\tDivide: 3\r\nSave: /home/user/ダウンロード/\r\nFileSize: " + size +
           "\tTime: " + time + "\tSpeed: " + speed + "\r\n\r\n";
  };
  ASSERT_TRUE(write_file(file, record("05/14(水) 10:02", "http://127.0.0.1/pub/archive.tar.gz",
                                      "archive.tar.gz", "10485760", "000:00:12", "873.8Kbyte/s") +
                                   record("05/14(水) 10:05", "http://127.0.0.1/img/写真.jpg",
                                          "写真.jpg", "254311", "000:00:01", "254.3Kbyte/s")));
  HistoryDialog dialog(file);
  QTableWidget& list = dialog.list();
  Cells titles;
  for (int c = 0; c < list.columnCount(); ++c)
    titles.push_back(list.horizontalHeaderItem(c)->text().toStdString());
  EXPECT_EQ(titles, (Cells{"日付", "ファイル名", "Size", "Div", "速度", "Time", "Save", "URL"}));
  ASSERT_EQ(list.rowCount(), 6);
  EXPECT_EQ(row_cells(list, 1),
            (Cells{"05/14(水) 10:05", "写真.jpg", "254311", "3", "254.3Kbyte/s", "000:00:01",
                   "/home/user/ダウンロード/", "http://127.0.0.1/img/写真.jpg"}));
  Cells totals;
  for (int r = 2; r < list.rowCount(); ++r) totals.push_back(row_cells(list, r)[0]);
  EXPECT_EQ(totals, (Cells{"＝＝＝", "合計", "2 ファイル", "10740071 byte"}));
  dialog.show();
  save_screenshot(dialog, "download-history.png");
}

// A 3-division download held after its first bytes per division.
TEST_F(PanelTest, EngineStatusItemAndThreadsShowTheSlotsAndTheThreadBits) {
  serve("/three.bin", content(90000, 5), 1000);
  ASSERT_EQ(manager_->register_item("3", out(), server_.url("/three.bin")), 0);
  ASSERT_TRUE(wait_until(
      [&] { return manager_->engine_status(false).find("bf002=") != std::string::npos; }));
  EngineStatusDialog dialog(*manager_);
  dialog.show();
  QTest::mouseClick(&dialog.item_button(), Qt::LeftButton);
  const std::string items = dialog.text_box().toPlainText().toStdString();
  // The core's engine status text (EngineStatus.ASlotWithThreeDivisionsAndAMissingArray),
  // its line ends as the box shows them.
  EXPECT_TRUE(items.starts_with("アイテム情報\n\n同時ダウンロード数=")) << items;
  save_screenshot(dialog, "engine-status.png");

  QTest::mouseClick(&dialog.thread_button(), Qt::LeftButton);
  const std::string threads = dialog.text_box().toPlainText().toStdString();
  EXPECT_TRUE(
      threads.starts_with("Torvane スレッド情報\n\nウエイト=20\n\nダウンロードスレッド\n"
                          "Stop=0\nStopOK=0\nEnd=0\nEndOK=0\nEndFail=0\n\n接続スレッド\n"))
      << threads;
  EXPECT_EQ(threads.find("アイテム"), std::string::npos);  // the box was emptied first
}

}  // namespace
}  // namespace torvane::test
