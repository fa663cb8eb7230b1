// The add-items panel: what its buttons register, how the clipboard and the
// division box reach the core, and the history it opens with.
#include "gui/add_items_panel.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "gui/up_down_widget.h"
#include "tests/gui/gui_fixture.h"

namespace torvane::test {
namespace {

using gui::AddItemsPanel;

// The URL box's text, the folder box's, the division box's and its up-down's place.
std::tuple<QString, QString, QString, int> boxes(AddItemsPanel& p) {
  return {p.url_box().currentText(), p.save_box().currentText(), p.division_box().text(),
          p.division_up_down().position()};
}

TEST_F(PanelTest, UrlBoxAndTextBoxRegisterWhatTheCoreTakesAndKeepEveryText) {
  AddItemsPanel panel(*manager_, ini_);
  const std::string out = dir_ / "out/";
  panel.save_box().setEditText(QString::fromStdString(out));
  // Without a division the core refuses the URL (AddItemsPanelRegistersWhatItsRulesAllow);
  // either way the typed text stays and heads its list.
  for (const char* division : {"", "3"}) {
    panel.division_box().setText(division);
    panel.url_box().setEditText("http://127.0.0.1:1/a");
    click(panel.button("登録"));
    EXPECT_EQ(panel.url_box().currentText(), "http://127.0.0.1:1/a") << division;
    EXPECT_EQ(panel.url_box().itemText(0), "http://127.0.0.1:1/a") << division;
  }
  std::vector<Row> expected = {{"3", out, "http://127.0.0.1:1/a"}};
  EXPECT_EQ(rows(), expected);

  // The text box's lines register as they stand; empty ones are skipped.
  panel.division_box().setText("2");
  panel.save_box().setEditText("/dl/");
  panel.text_box().setPlainText("http://127.0.0.1:1/x\n\n  http://127.0.0.1:1/y\n");
  click(panel.button("登録", true));
  expected.emplace_back("2", "/dl/", "http://127.0.0.1:1/x");
  expected.emplace_back("2", "/dl/", "  http://127.0.0.1:1/y");
  EXPECT_EQ(rows(), expected);
  EXPECT_EQ(panel.save_box().itemText(0), "/dl/");
}

TEST_F(PanelTest, ClipboardLinesBecomeUrlsInTheBoxOrItems) {
  AddItemsPanel panel(*manager_, ini_);
  panel.save_box().setEditText("/dl/");
  QGuiApplication::clipboard()->setText("see ttp://127.0.0.1:1/p\nnothing\nh");
  click(panel.button("URL抽出"));
  EXPECT_EQ(panel.text_box().toPlainText(), "http://127.0.0.1:1/p\n");
  click(panel.button("貼り付け"));
  EXPECT_EQ(panel.text_box().toPlainText(), "see ttp://127.0.0.1:1/p\nnothing\nh");
  click(panel.button("展開して登録"));
  EXPECT_EQ(panel.text_box().toPlainText(), "");
  EXPECT_EQ(rows(), (std::vector<Row>{{"1", "/dl/", "http://127.0.0.1:1/p"}}));
  EXPECT_EQ(panel.url_box().currentText(), "http://");  // the lists changed, not the texts

  QGuiApplication::clipboard()->setText("http://127.0.0.1:1/f[1-3].txt");
  click(panel.button("展開して貼り付け"));
  EXPECT_EQ(panel.text_box().toPlainText(),
            "http://127.0.0.1:1/f1.txt\nhttp://127.0.0.1:1/f2.txt\nhttp://127.0.0.1:1/f3.txt\n");
  panel.url_box().setEditText("http://127.0.0.1:1/g09-10");
  click(panel.button("展開"));
  EXPECT_EQ(panel.text_box().toPlainText(), "http://127.0.0.1:1/g09\nhttp://127.0.0.1:1/g10\n");

  // Registering the clipboard's URLs takes the folder into its history
  // before it looks at the clipboard; without text the box stays.
  QGuiApplication::clipboard()->clear();
  panel.save_box().setEditText("/other/");
  click(panel.button("展開して登録"));
  EXPECT_EQ(panel.text_box().toPlainText(), "http://127.0.0.1:1/g09\nhttp://127.0.0.1:1/g10\n");
  EXPECT_EQ(panel.save_box().itemText(0), "/other/");
  EXPECT_EQ(rows().size(), 1u);
}

TEST_F(PanelTest, OpensWithDefaultsAndItsHistoryComesBackAfterClosing) {
  {
    AddItemsPanel panel(*manager_, ini_);
    EXPECT_EQ(boxes(panel), std::make_tuple("http://", "", "1", 0));
    EXPECT_EQ(panel.url_box().count(), 0);

    panel.save_box().setEditText("/dl/");
    panel.url_box().setEditText("http://127.0.0.1:1/a");
    // The box and its up-down follow each other (the range editor's test has their limits).
    panel.division_box().clear();
    QTest::keyClicks(&panel.division_box(), "11");
    click(&panel.division_up_down().up_button());
    click(panel.button("登録"));
    panel.url_box().setEditText("http://typed/");
  }
  AddItemsPanel again(*manager_, ini_);
  EXPECT_EQ(boxes(again), std::make_tuple("http://typed/", "/dl/", "12", 12));
  EXPECT_EQ(again.url_box().itemText(0), "http://127.0.0.1:1/a");
}

}  // namespace
}  // namespace torvane::test
