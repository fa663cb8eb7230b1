// The settings dialog, whose every control changes the manager's settings
// at once; the name-template dialog it opens; the simultaneous-download
// panel, whose text follows the engine's answer to a new limit.
#include "gui/settings_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <optional>

#include "gui/limit_panel_widget.h"
#include "gui/name_template_dialog.h"
#include "gui/up_down_widget.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/screenshot.h"
#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

using gui::LimitPanelWidget;
using gui::NameTemplateDialog;
using gui::SettingsDialog;

using SettingsDialogTest = DialogTest;

TEST_F(SettingsDialogTest, OpensAtTheStoredOrEnginesPauseEachControlTakesEffectAndTemplatesStore) {
  set_ini("[SETTING]\nThreadWait=0\nBps=1\nWriteLog=1\nStrictDLInfo=0\nExistFile=2\n");
  manager_ = start(clock_, 0);
  auto dialog = std::make_unique<SettingsDialog>(*manager_, nullptr);
  dialog->show();
  EXPECT_EQ(dialog->thread_wait_text().text(), "20ms");
  EXPECT_TRUE(dialog->exist_file(2).isChecked());
  save_screenshot(*dialog, "settings.png");

  dialog->thread_wait().setValue(1001);
  const auto engine_wait = [&] { return load_relaxed(manager_->context().wait_ms); };
  EXPECT_EQ(engine_wait(), 1001);
  EXPECT_EQ(dialog->thread_wait_text().text(), "1001ms");
  dialog->bytes_per_second().click();
  dialog->write_log().click();
  dialog->strict_info().click();
  dialog->save_to_dir().click();
  dialog->exist_file(3).click();
  // The window closes with the dialog still open: nothing is lost.
  dialog.reset();
  const ProgramSettings s = settings();
  EXPECT_EQ(std::make_tuple(s.thread_wait, s.bps, s.write_log, s.strict_dl_info, s.save_to_dir,
                            s.exist_file),
            std::make_tuple(1001, 0, 0, 1, 1, 3));

  // A stored pause opens without reaching the engine.
  manager_->with_settings([](ProgramSettings& s) { s.thread_wait = 300; });
  SettingsDialog stored(*manager_, nullptr);
  EXPECT_EQ(stored.thread_wait_text().text(), "300ms");
  EXPECT_EQ(engine_wait(), 1001);

  // The name templates open at the default; OK stores both boxes.
  stored.templates_button().click();
  QPointer<NameTemplateDialog> templates = stored.findChild<NameTemplateDialog*>();
  ASSERT_TRUE(!templates.isNull() && templates->isVisible());
  EXPECT_EQ(templates->other_name().text(), "$f_[$t].$e");
  EXPECT_EQ(templates->rename().text(), "$f_[$t].$e");
  save_screenshot(*templates, "name-templates.png");
  templates->rename_ignore().click();
  templates->ok_button().click();
  const ProgramSettings t = settings();
  EXPECT_EQ(std::tie(t.other_name, t.renane, t.on_ignore_err, t.rn_ignore_err),
            std::make_tuple(std::optional<std::string>("$f_[$t].$e"),
                            std::optional<std::string>("$f_[$t].$e"), 0, 1));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(templates.isNull());  // closed and gone
}

TEST_F(SettingsDialogTest, LimitPanelShowsTheEnginesAnswerAndStartsAWaitingItem) {
  const auto paths = {"/w0", "/w1", "/w2"};
  for (const char* path : paths) serve(path, content(5000), 100);
  manager_ = start(clock_, 1);
  for (const char* path : paths) manager_->register_item("1", out(), server_.url(path));
  ASSERT_EQ(states()[1], kWaiting);
  LimitPanelWidget panel(*manager_, settings().max_dl_files);
  panel.show();
  EXPECT_EQ(panel.limit_text().text(), "001");

  panel.up_down().up_button().click();
  EXPECT_EQ(panel.shown(), 1);  // not before the engine has answered
  ASSERT_TRUE(wait_until([&] { return !seen(*manager_).limits.empty(); }));
  EXPECT_EQ(seen(*manager_).limits, (std::vector<std::pair<int, int>>{{1, 2}}));
  panel.limit_changed(1, 2);  // as the main window passes the answer on
  EXPECT_EQ(panel.limit_text().text(), "002");
  EXPECT_EQ(settings().max_dl_files, 2);
  EXPECT_NE(states()[1], kWaiting);
  EXPECT_EQ(states()[2], kWaiting);
  save_screenshot(panel, "limit-panel.png");

  // Not taken: the up-down goes back to the figure the text shows.
  panel.up_down().setPosition(9);
  panel.limit_changed(0, 9);
  EXPECT_EQ(panel.up_down().position(), 2);
  EXPECT_EQ(panel.shown(), 2);
  EXPECT_EQ(settings().max_dl_files, 2);
}

}  // namespace
}  // namespace torvane::test
