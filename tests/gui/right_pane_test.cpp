// The right pane: the panel over the header log as LogView and LogHeight
// say, the panel's bottom edge under the mouse, and the log's appends.

#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "core/text/header_log.h"
#include "gui/add_items_panel.h"
#include "gui/right_pane_widget.h"
#include "tests/gui/gui_fixture.h"

namespace torvane::test {
namespace {

using gui::RightPaneWidget;

class RightPaneTest : public PanelTest {
 protected:
  void set_log(int view, int height) {
    manager_->with_settings([&](ProgramSettings& s) {
      s.log_view = view;
      s.log_height = height;
    });
  }
  int log_height() {
    return manager_->with_settings([](ProgramSettings& s) { return s.log_height; });
  }
  // Where the panel ends and the log begins and ends; the log's top is -1
  // while it is hidden.
  static std::tuple<int, int, int> layout(RightPaneWidget& pane) {
    const QWidget& log = pane.header_log();
    return {pane.panel().height(), log.isVisible() ? log.y() : -1,
            log.isVisible() ? log.geometry().bottom() : -1};
  }
  static void drag_edge(RightPaneWidget& pane, int to_y) {
    QWidget& edge = pane.panel_edge();
    const QPointF start(20, 0);
    QMouseEvent press(QEvent::MouseButtonPress, start, edge.mapToGlobal(start), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&edge, &press);
    const QPointF at(20, to_y - edge.y());
    QMouseEvent move(QEvent::MouseMove, at, edge.mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&edge, &move);
  }
};

TEST_F(RightPaneTest, PanelAndLogFollowLogViewLogHeightAndTheDraggedEdge) {
  set_log(0, 150);
  RightPaneWidget pane(*manager_, ini_);
  pane.resize(400, 600);
  pane.show();
  EXPECT_EQ(layout(pane), std::make_tuple(444, 449, 599));
  pane.resize(400, 700);  // the log takes the new height
  EXPECT_EQ(layout(pane), std::make_tuple(444, 449, 699));
  EXPECT_EQ(log_height(), 250);
  drag_edge(pane, 300);
  EXPECT_EQ(layout(pane), std::make_tuple(300, 305, 699));
  EXPECT_EQ(log_height(), 394);

  set_log(2, log_height());
  pane.relayout();
  EXPECT_EQ(layout(pane), std::make_tuple(700, -1, -1));
  EXPECT_FALSE(pane.panel_edge().isVisible());
  set_log(0, log_height());
  pane.relayout();  // placed from the LogHeight kept while hidden
  EXPECT_EQ(layout(pane), std::make_tuple(300, 305, 699));
}

// Each append leaves the caret after the new text and the box scrolled to
// it, wherever the user had put the caret or the view; a full log gives up
// as much of its start as is added.
TEST_F(RightPaneTest, LogEntriesAppearAsWrittenAndTheLogFollowsThem) {
  set_log(0, 150);
  RightPaneWidget pane(*manager_, ini_);
  pane.resize(400, 600);
  pane.show();
  QPlainTextEdit& log = pane.header_log();
  for (const std::string& piece : header_log_note(0, 1, 2, "refused"))
    pane.append_header_log(piece);
  pane.append_header_log("GET / HTTP/1.0\r\n");
  EXPECT_EQ(log.toPlainText(), QString::fromUtf8("お知らせ - (L:0 S:1 D:2)\nrefused\n"
                                                 "/* == 区切り == */\nGET / HTTP/1.0\n"));

  for (int i = 0; i < 100; ++i) pane.append_header_log("line " + std::to_string(i) + "\r\n");
  log.verticalScrollBar()->setValue(0);
  log.moveCursor(QTextCursor::Start);
  pane.append_header_log("last\r\n");
  EXPECT_GT(log.verticalScrollBar()->value(), 0);
  EXPECT_EQ(log.verticalScrollBar()->value(), log.verticalScrollBar()->maximum());
  EXPECT_EQ(log.textCursor().position(), log.document()->characterCount() - 1);

  // Lines of a hundred characters exactly up to the limit (nothing cut),
  // then the next append cuts as many characters from the start as it adds.
  log.clear();
  const std::string line = std::string(98, 'x') + "\r\n";
  std::string lines;
  for (int i = 0; i < 10'000; ++i) lines += std::to_string(i % 10) + line;
  pane.append_header_log(lines);
  EXPECT_TRUE(log.toPlainText().startsWith("0xx"));
  pane.append_header_log(std::string(150, 'n') + "\r\n" + std::string(49, 'm'));
  const QString text = log.toPlainText();
  EXPECT_EQ(text.size(), static_cast<qsizetype>(kHeaderLogLimit));
  EXPECT_TRUE(text.startsWith("2xx")) << text.left(10).toStdString();
  EXPECT_TRUE(text.endsWith(QString(150, 'n') + "\n" + QString(49, 'm')));
}

}  // namespace
}  // namespace torvane::test
