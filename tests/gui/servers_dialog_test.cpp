// The server profile dialogs: the Servers list and what its buttons do to
// "Servers.ini" and the profile files, the results of "Edit Server data",
// and "項目の編集" (driven through on_modal).
#include "gui/servers_dialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <functional>
#include <optional>

#include "core/settings/server_profiles.h"
#include "gui/profile_item_dialog.h"
#include "gui/server_edit_dialog.h"
#include "tests/gui/gui_fixture.h"
#include "tests/gui/modal.h"
#include "tests/gui/screenshot.h"

namespace torvane::test {
namespace {

using gui::ProfileItemDialog;
using gui::ServerEditDialog;
using gui::ServersDialog;
using Names = std::vector<std::string>;

Names texts(const QListWidget& list) {
  Names out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.item(i)->text().toStdString());
  return out;
}

Names entries(const std::vector<ProfileRow>& rows) {
  Names out;
  for (const ProfileRow& r : rows) out.push_back(r.key + "=" + r.value);
  return out;
}

class ServersTest : public DialogTest {
 protected:
  void SetUp() override {
    write_file(dir_ / "Servers.ini", "[ServerData]\na.com=Servers\\a.ini\nb.com=Servers\\b.ini\n");
    write_file(dir_ / "Servers/a.ini", "[TVNBASICDATA]\nRetry=3\nDiv=4\n");
  }

  std::optional<std::string> file_of(std::string_view name) const {
    return server_profile_file(folder_, name);
  }
  void press(ServersDialog& servers, int row, const char* button) {
    if (row >= 0) servers.list().setCurrentRow(row);
    click(servers.button(button));
  }

  ProgramFolder folder_{dir_.path()};
};

TEST_F(ServersTest, RenameKeepsTheFileNewAppendsDeleteTakesTheFile) {
  ServersDialog servers(folder_);
  ASSERT_EQ(texts(servers.list()), (Names{"default", "a.com", "b.com"}));
  on_modal<ServerEditDialog>([](ServerEditDialog& edit) {
    EXPECT_EQ(edit.name_box().text(), "a.com");
    EXPECT_EQ(edit.file_box().text(), "Servers/a.ini");
    edit.name_box().setText("c.com");
    edit.save();
  });
  press(servers, 1, "編集");
  EXPECT_EQ(texts(servers.list()), (Names{"default", "c.com", "b.com"}));
  EXPECT_EQ(file_of("c.com"), "Servers/a.ini");
  EXPECT_EQ(read_file(dir_ / "Servers/a.ini"), "[TVNBASICDATA]\nDiv=4\nRetry=3\n");

  // A new profile is appended under the name it was saved as.
  on_modal<ServerEditDialog>([](ServerEditDialog& edit) {
    EXPECT_EQ(edit.table().rowCount(), 0);
    edit.name_box().setText("n.org");
    edit.file_box().setText("Servers/n.ini");
    edit.save();
  });
  press(servers, -1, "新規作成");
  EXPECT_EQ(texts(servers.list()), (Names{"default", "c.com", "b.com", "n.org"}));
  EXPECT_EQ(file_of("n.org"), "Servers/n.ini");
  EXPECT_EQ(read_file(dir_ / "Servers/n.ini"), "[TVNBASICDATA]\n");

  // Deleting a row takes its entry and the file it listed.
  press(servers, 1, "削除");
  EXPECT_EQ(texts(servers.list()), (Names{"default", "b.com", "n.org"}));
  EXPECT_FALSE(path_exists(dir_ / "Servers/a.ini"));
  // The default row has no entry: its file is not the row's to delete.
  write_file(dir_ / "Servers/default.ini", "[TVNBASICDATA]\n");
  press(servers, 0, "削除");
  EXPECT_TRUE(path_exists(dir_ / "Servers/default.ini"));
}

TEST_F(ServersTest, EditServerDataShowsAndWritesTheRows) {
  // A name without an entry does not open.
  ServerEditDialog missing(folder_, "none.com");
  EXPECT_EQ(missing.run(), 0);
  ServerEditDialog edit(folder_, "a.com");
  EXPECT_EQ(entries(edit.rows()), (Names{"Div=4", "Retry=3"}));  // the editor's order
  // Rows through "項目の編集": added at the end (a second Div a row of its
  // own), edited in place, deleted.
  on_modal<ProfileItemDialog>([](ProfileItemDialog& item) {
    item.key_box().setEditText("Div");
    item.value_box().setText("8");
    item.finish();
  });
  edit.add_row();
  edit.table().selectRow(1);
  on_modal<ProfileItemDialog>([](ProfileItemDialog& item) {
    EXPECT_EQ(item.value(), "3");
    item.value_box().setText("7");
    item.finish();
  });
  edit.edit_row();
  edit.table().selectRow(0);
  click(edit.button("削除"));
  EXPECT_EQ(entries(edit.rows()), (Names{"Retry=7", "Div=8"}));
  // A file name that names no file: OK is off and nothing is written.
  edit.file_box().setText("Servers/");
  EXPECT_FALSE(edit.button("OK")->isEnabled());
  edit.file_box().setText("Servers\\a2.ini");
  edit.setResult(-1);
  click(edit.button("OK"));
  EXPECT_EQ(edit.result(), 0);
  EXPECT_EQ(read_file(dir_ / "Servers/a2.ini"), "[TVNBASICDATA]\nRetry=7\nDiv=8\n");
  EXPECT_EQ(file_of("a.com"), "Servers/a2.ini");
}

TEST_F(ServersTest, ScreenshotsAndTheItemEditorTakesAnyTypedKey) {
  write_file(dir_ / "Servers.ini",
             "[ServerData]\ndownloads.example.org=Servers\\dl.ini\nexample.net=Servers\\net.ini\n"
             "127.0.0.1:8080=Servers\\local.ini\n");
  write_file(
      dir_ / "Servers/dl.ini",
      "[TVNBASICDATA]\nDataType=1\nProxy=127.0.0.1:3128\nDiv=4\nSAVE=/home/user/ダウンロード/\n"
      "BufferSize=65536\nReferrer=http://downloads.example.org/files/index.html\n"
      "AutoResume=1\nRetry=10\nFileSize=+512\nCookie=2\n");
  ServersDialog servers(folder_);
  servers.list().setCurrentRow(1);
  servers.show();
  save_screenshot(servers, "servers.png");

  ServerEditDialog edit(folder_, "downloads.example.org");
  edit.table().selectRow(1);
  edit.show();
  save_screenshot(edit, "edit-server-data.png");

  ProfileItemDialog item("SAVE", "/home/user/ダウンロード/");
  item.show();
  save_screenshot(item, "profile-item.png");
  // A key of its own is taken as typed, not completed from the profile keys
  // or replaced; an empty one keeps OK off.
  item.key_box().setEditText("");
  EXPECT_FALSE(item.ok_button().isEnabled());
  item.key_box().setEditText("X-Mine");
  QTest::mouseClick(&item.ok_button(), Qt::LeftButton);
  EXPECT_EQ(item.result(), 1);
  EXPECT_EQ(item.key(), "X-Mine");
}

}  // namespace
}  // namespace torvane::test
