// The power-and-line dialog: what it opens with, what OK and Cancel store,
// the set-time text there and back, and "動作テスト" reaching the manager's
// power services (a recorder here) only after its question was answered Yes.
#include "gui/shutdown_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "core/settings/shutdown_choices.h"
#include "core/text/set_time_text.h"
#include "gui/settings_dialog.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/modal.h"
#include "tests/gui/screenshot.h"

namespace torvane::test {
namespace {

using gui::ShutdownDialog;

// Answers the next modal message boxes with `answers`, one each, noting
// each in `shown` as "caption|text|icon", with "|owned" when its owner was
// `owner`.
void answer(std::vector<QMessageBox::StandardButton> answers, QWidget* owner,
            std::vector<std::string>* shown) {
  if (answers.empty()) return;
  on_modal<QMessageBox>([=](QMessageBox& box) {
    shown->push_back((box.windowTitle() + "|" + box.text()).toStdString() + "|" +
                     std::to_string(box.icon()) + (box.parentWidget() == owner ? "|owned" : ""));
    QAbstractButton* button = box.button(answers.front());
    ASSERT_NE(button, nullptr);
    answer({answers.begin() + 1, answers.end()}, owner, shown);
    button->click();
  });
}

class ShutdownDialogTest : public DialogTest {
 protected:
  // The trigger and the method bits stored.
  std::pair<int, int> stored() { return {settings().shut_down, settings().how_to_sd}; }
};

TEST_F(ShutdownDialogTest, OpensAtPowerOffAndOkOrCancelStoreWhatItShows) {
  set_ini(
      "[SETTING]\nShutDown=5\nHowtoSD=0\n[SDTIME]\nYear=2001\nMonth=12\nDay=24\n"
      "Hour=23\nMinute=30\nSecond=0\n");
  manager_ = start(clock_, 0);
  // Opened from the settings dialog, as the user reaches it.
  gui::SettingsDialog settings_dialog(*manager_, nullptr);
  auto* dialog = qobject_cast<ShutdownDialog*>(settings_dialog.open_power());
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->trigger(0).isChecked());
  EXPECT_EQ(dialog->methods().currentRow(), 1);
  EXPECT_EQ(dialog->methods().currentItem()->text().toStdString(), "シャットダウン後にパワーオフ");
  EXPECT_FALSE(dialog->force().isChecked() || dialog->hang_up().isChecked());
  EXPECT_EQ(dialog->set_time().text(), "y2001 mo12 d24 h23 mi30 s00 ");
  dialog->ok_button().click();
  EXPECT_EQ(stored(), std::make_pair(0, 0x2));

  // Restart after log off, at 07:00:00 of any day, hanging up first.
  manager_->with_settings([](ProgramSettings& s) { s.how_to_sd = 0x1 | 0x40; });
  ShutdownDialog changed(*manager_, nullptr);
  EXPECT_EQ(changed.methods().currentRow(), 0);
  EXPECT_TRUE(changed.force().isChecked());
  changed.trigger(2).click();
  changed.methods().setCurrentRow(2);
  changed.force().click();
  changed.hang_up().click();
  changed.set_time().setText("h07 mi00 s00");
  changed.ok_button().click();
  EXPECT_EQ(stored(), std::make_pair(2, 0x4 | 0x80));
  EXPECT_EQ(format_set_time(settings().shutdown_time), "h07 mi00 s00 ");

  // Cancel stores nothing.
  ShutdownDialog reopened(*manager_, nullptr);
  EXPECT_TRUE(reopened.trigger(2).isChecked());
  reopened.show();
  save_screenshot(reopened, "shutdown.png");
  reopened.trigger(0).click();
  reopened.methods().setCurrentRow(6);
  reopened.cancel_button().click();
  EXPECT_EQ(stored(), std::make_pair(2, 0x4 | 0x80));
}

TEST_F(ShutdownDialogTest, TestButtonAsksThenRunsTheChoiceThroughThePowerServices) {
  manager_ = start(clock_, 0);
  struct Case {
    QMessageBox::StandardButton reply;
    int method_row, exit_result;
    bool force;
    std::vector<std::string> calls;
    bool failure_shown;
  };
  const Case cases[] = {
      {QMessageBox::No, 1, 0, false, {}, false},
      {QMessageBox::Yes, 1, 0, true, {"power off!"}, false},
      {QMessageBox::Yes, 2, -1, false, {"reboot"}, true},
      {QMessageBox::Yes, 5, -1, false, {"suspend"}, true},
  };
  for (const Case& c : cases) {
    // Each case a fresh run: no attempt made yet.
    manager_->with_settings([](ProgramSettings& s) { s.how_to_sd = 0; });
    manager_->with_items([&](const ItemList&) {
      power_.calls.clear();
      power_.exit_result = power_.state_result = c.exit_result;
      return 0;
    });
    ShutdownDialog dialog(*manager_, nullptr);
    dialog.methods().setCurrentRow(c.method_row);
    dialog.force().setChecked(c.force);
    std::vector<std::string> shown;
    answer(c.failure_shown ? std::vector{c.reply, QMessageBox::Ok} : std::vector{c.reply}, &dialog,
           &shown);
    dialog.test_button().click();
    EXPECT_EQ(manager_->with_items([this](const ItemList&) { return power_.calls; }), c.calls)
        << c.method_row;
    std::vector<std::string> expected = {
        "確認|本当にシャットダウンしてしまいますがかまいませんか？|" +
        std::to_string(QMessageBox::Question) + "|owned"};
    if (c.failure_shown)
      expected.push_back("エラー|シャットダウンに失敗しました。|" +
                         std::to_string(QMessageBox::Warning) + "|owned");
    EXPECT_EQ(shown, expected) << c.method_row;
    // Applied before the question, whatever the answer.
    EXPECT_EQ(settings().how_to_sd & 0xff,
              kShutdownMethodBits[static_cast<std::size_t>(c.method_row)] | (c.force ? 0x40 : 0))
        << c.method_row;
  }
}

}  // namespace
}  // namespace torvane::test
