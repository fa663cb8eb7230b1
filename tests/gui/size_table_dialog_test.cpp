// The size table's editor and its row editor: what they show, what OK
// writes into section "Divide", and the row editor's count controls.
#include "gui/size_table_dialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <functional>

#include "gui/range_edit_dialog.h"
#include "gui/up_down_widget.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/modal.h"
#include "tests/gui/screenshot.h"

namespace torvane::test {
namespace {

using gui::RangeEditDialog;
using gui::SizeTableDialog;
using Rows = std::vector<std::pair<std::string, std::string>>;

using SizeTableTest = DialogTest;

Rows shown(QTableWidget& list) {
  Rows out;
  for (int r = 0; r < list.rowCount(); ++r)
    out.emplace_back(list.item(r, 0)->text().toStdString(), list.item(r, 1)->text().toStdString());
  return out;
}

// Clicks `button`, which runs the row editor modally, and has `answer`
// fill and close the editor once it is up.
void click_with_editor(QPushButton* button, std::function<void(RangeEditDialog&)> answer) {
  ASSERT_NE(button, nullptr);
  auto answered = std::make_shared<bool>(false);
  on_modal<RangeEditDialog>([=](RangeEditDialog& editor) {
    *answered = true;
    answer(editor);
  });
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(*answered) << button->text().toStdString();
}

std::function<void(RangeEditDialog&)> type_row(QString range, QString count) {
  return [=](RangeEditDialog& editor) {
    editor.range_box().setText(range);
    if (count.isEmpty()) {
      editor.set_value_radio().setChecked(true);
    } else {
      editor.count_radio().setChecked(true);
      editor.count_box().setText(count);
    }
    editor.accept();
  };
}

TEST_F(SizeTableTest, RowsAddedEditedAndDeletedAreWrittenOnOkInListOrderAndNotOnCancel) {
  set_ini("[SETTING]\nDiv=4\n[Divide]\n0-1048576=1\n1048577-=-1\nx=\n");
  {
    SizeTableDialog dialog(ini_);
    EXPECT_EQ(shown(dialog.list()), (Rows{{"0-1048576", "1"}, {"1048577-", "-1"}, {"x", "0"}}));
    // A lone number gets no upper bound; Cancel in the editor adds nothing.
    click_with_editor(dialog.button("追加"), type_row("5000", "3"));
    click_with_editor(dialog.button("追加"), [](RangeEditDialog& e) { e.reject(); });
    dialog.list().selectRow(1);
    click_with_editor(dialog.button("編集"), type_row("1048577-2000000", ""));
    dialog.list().selectRow(2);
    QTest::mouseClick(dialog.button("削除"), Qt::LeftButton);
    EXPECT_EQ(shown(dialog.list()),
              (Rows{{"0-1048576", "1"}, {"1048577-2000000", "-1"}, {"5000-", "3"}}));
    dialog.show();
    save_screenshot(dialog, "size-table.png");
    QTest::mouseClick(dialog.button("OK"), Qt::LeftButton);
  }
  const std::string written =
      "[SETTING]\nDiv=4\n[Divide]\n0-1048576=1\n1048577-2000000=-1\n5000-=3\n";
  EXPECT_EQ(ini_text(), written);
  SizeTableDialog again(ini_);
  click_with_editor(again.button("追加"), type_row("1-2", "2"));
  QTest::mouseClick(again.button("Cancel"), Qt::LeftButton);
  EXPECT_FALSE(again.isVisible());
  EXPECT_EQ(ini_text(), written);
}

TEST(RangeEditDialog, OpensAtTheRowAndCountBoxAndUpDownFollowEachOtherWithin1To64) {
  // A row without a count opens at the set value, its count box at 1.
  RangeEditDialog set_value(SizeRow{"noise", -1});
  EXPECT_EQ(set_value.range_box().text() + set_value.count_box().text(), "0-1");
  EXPECT_TRUE(set_value.set_value_radio().isChecked());
  // A stored count out of the box's range is shown as stored.
  RangeEditDialog stored(SizeRow{"300", 70});
  EXPECT_EQ(stored.range_box().text() + " " + stored.count_box().text(), "300- 70");
  RangeEditDialog editor(SizeRow{"0-", 63});
  EXPECT_TRUE(editor.count_radio().isChecked());
  QTest::mouseClick(&editor.up_down().up_button(), Qt::LeftButton);
  EXPECT_EQ(editor.count_box().text(), "64");
  QTest::mouseClick(&editor.up_down().up_button(), Qt::LeftButton);
  EXPECT_EQ(editor.count_box().text(), "64");
  editor.count_box().clear();
  QTest::keyClicks(&editor.count_box(), "90");
  EXPECT_EQ(editor.up_down().position(), 64);
  EXPECT_EQ(editor.count_box().text(), "90");  // the typed text stays
  QTest::mouseClick(&editor.up_down().down_button(), Qt::LeftButton);
  EXPECT_EQ(editor.count_box().text(), "63");
  editor.count_box().clear();
  QTest::keyClicks(&editor.count_box(), "x");  // no number: below the range
  QTest::mouseClick(&editor.up_down().up_button(), Qt::LeftButton);
  EXPECT_EQ(editor.count_box().text(), "1");
  editor.show();
  save_screenshot(editor, "range-edit.png");
}

}  // namespace
}  // namespace torvane::test
