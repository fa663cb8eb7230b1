// The whole road of a download in the window: a URL of a real file server
// typed into the add-items panel and registered; its row shows the progress,
// finishes and leaves the list, and the file is the server's, byte for byte.
#include <gmock/gmock.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui/add_items_panel.h"
#include "gui/item_list_model.h"
#include "gui/right_pane_widget.h"
#include "tests/gui/window_fixture.h"
#include "tests/support/real_peers.h"

namespace torvane::test {
namespace {

TEST_F(WindowTest, AUrlRegisteredFromThePanelProgressesFinishesAndLeavesTheList) {
  const std::string body = pattern_bytes(12'000'000, 9);
  ASSERT_TRUE(write_file(dir_ / "big.bin", body));
  // Slow enough per connection that the one-second tick sees it running.
  RealPeer nginx("nginx", dir_.path(), "limit_rate 2m;");
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

  const QAbstractItemModel& model = window.model();
  const auto cell = [&](int column) {
    return model.rowCount() > 0 ? model.data(model.index(0, column)).toString() : QString();
  };
  QString progress_seen;
  ASSERT_TRUE(pump_until([&] {
    const QString progress = cell(3);
    if (progress.contains("%)") && !progress.startsWith("???") && !progress.contains("(100%)"))
      progress_seen = progress;
    return !progress_seen.isEmpty();
  })) << cell(0).toStdString()
      << " " << cell(3).toStdString();
  EXPECT_EQ(cell(0), QString::fromUtf8("DL(File)"));
  EXPECT_EQ(cell(2), "4");
  ASSERT_TRUE(pump_until([&] { return model.rowCount() == 0; }, std::chrono::seconds(30)));
  EXPECT_TRUE(read_file(out() + "big.bin") == body);
}

}  // namespace
}  // namespace torvane::test
