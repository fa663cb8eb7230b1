// Drops: the record the handler sees at each Qt drag event, and the add-items
// panel's answer to a text, a file and a drop without usable data.
#include "gui/drop_target.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
#include <optional>

#include "gui/add_items_panel.h"
#include "tests/gui/gui_fixture.h"

namespace torvane::test {
namespace {

using namespace gui;

// Sends one drag event of `code` to `widget`; whether it was accepted (an
// enter or a drop: as a copy).
bool send_drag(QWidget& widget, int code, const QMimeData& mime,
               Qt::KeyboardModifiers keys = Qt::NoModifier) {
  if (code == kDragLeave) {
    QDragLeaveEvent event;
    QCoreApplication::sendEvent(&widget, &event);
    return event.isAccepted();
  }
  const QPoint at(10, 10);
  const Qt::DropActions actions = Qt::CopyAction | Qt::LinkAction;
  QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, keys);
  QDragMoveEvent over(at, actions, &mime, Qt::LeftButton, keys);
  QDropEvent drop(at, actions, &mime, Qt::LeftButton, keys);
  QDropEvent& event = code == kDragEnter ? enter : code == kDragOver ? over : drop;
  QCoreApplication::sendEvent(&widget, &event);
  return event.isAccepted() && (code == kDragOver || event.dropAction() == Qt::CopyAction);
}

TEST(DropTarget, EachEventGivesTheRecordItsDataAndTheEffectCarriesOver) {
  // An event as the handler saw it; `at` is the record's point, if any.
  struct Seen {
    int code, format;
    std::uint32_t effect_in, key_state;
    bool object;
    std::string data;
    std::vector<std::string> files;
    std::optional<QPoint> at;
    bool operator==(const Seen&) const = default;
  };
  std::vector<Seen> seen;
  std::vector<std::uint32_t> answers = {5, 0, 0, 1, 4};  // the handler's effect per event
  QWidget widget;
  widget.move(100, 50);  // the record's point is on the screen
  ASSERT_FALSE(register_drop_target(&widget, {}));
  ASSERT_TRUE(register_drop_target(&widget, [&](int code, DropEvent& e) {
    const auto* files = static_cast<const std::vector<std::string>*>(e.file_block);
    seen.push_back(Seen{code, e.format, e.effect, e.key_state, e.data_object != nullptr,
                        e.data ? e.data : "<null>", files ? *files : std::vector<std::string>(),
                        e.point ? std::optional(*e.point) : std::nullopt});
    e.effect = answers[seen.size() - 1];
  }));

  QMimeData files;
  files.setUrls(
      {QUrl("http://host/x"), QUrl::fromLocalFile("/tmp/a b.txt"), QUrl::fromLocalFile("/tmp/c")});
  files.setText("file:///tmp/a%20b.txt");  // as file managers add it
  QMimeData text;
  text.setText("http://127.0.0.1:1/t");

  EXPECT_TRUE(send_drag(widget, kDragEnter, files, Qt::ControlModifier));
  EXPECT_FALSE(send_drag(widget, kDragOver, files));
  send_drag(widget, kDragLeave, files);
  // Qt hands a drop only to the widget that took the drag's enter.
  EXPECT_TRUE(send_drag(widget, kDragEnter, text));
  EXPECT_TRUE(send_drag(widget, kDrop, text, Qt::ShiftModifier));
  const std::vector<std::string> paths = {"/tmp/a b.txt", "/tmp/c"};
  const QPoint at(110, 60);
  const std::string url = "http://127.0.0.1:1/t";
  const std::vector<Seen> expected = {
      {kDragEnter, kDropFiles, 0, kDropLeftButton | kDropControl, true, paths[0], paths, at},
      {kDragOver, kDropNone, 5, kDropLeftButton, false, "<null>", {}, at},
      {kDragLeave, kDropNone, 0, 0, false, "<null>", {}, std::nullopt},
      {kDragEnter, kDropText, 0, kDropLeftButton, true, url, {}, at},
      {kDrop, kDropText, 1, kDropLeftButton | kDropShift, true, url, {}, at}};
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(seen[i] == expected[i]) << i;
}

TEST_F(PanelTest, APanelDropReplacesTheTextBoxWithTheTextOrTheFirstFile) {
  AddItemsPanel panel(*manager_, ini_);
  panel.text_box().setPlainText("before");
  QMimeData text, files, other;
  text.setText("http://127.0.0.1:1/a\r\nhttp://127.0.0.1:1/b");
  files.setUrls({QUrl::fromLocalFile("/tmp/list.txt"), QUrl::fromLocalFile("/tmp/more.txt")});
  files.setText("file:///tmp/list.txt");
  other.setData("application/x-other", "bytes");

  EXPECT_FALSE(send_drag(panel, kDragEnter, other));
  EXPECT_TRUE(send_drag(panel, kDragEnter, text));
  EXPECT_FALSE(send_drag(panel, kDrop, other));
  EXPECT_EQ(panel.text_box().toPlainText(), "before");

  EXPECT_TRUE(send_drag(panel, kDragEnter, text));
  EXPECT_TRUE(send_drag(panel, kDragOver, text));  // the enter's answer holds
  EXPECT_TRUE(send_drag(panel, kDrop, text));
  EXPECT_EQ(panel.text_box().toPlainText(), "http://127.0.0.1:1/a\nhttp://127.0.0.1:1/b");

  EXPECT_TRUE(send_drag(panel, kDragEnter, files));
  EXPECT_TRUE(send_drag(panel, kDrop, files));
  EXPECT_EQ(panel.text_box().toPlainText(), "/tmp/list.txt");
}

}  // namespace
}  // namespace torvane::test
