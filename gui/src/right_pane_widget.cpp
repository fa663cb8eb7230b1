#include "gui/right_pane_widget.h"

#include <QFrame>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <functional>
#include <utility>

#include "core/settings/window_geometry.h"
#include "core/text/header_log.h"
#include "gui/add_items_panel.h"
#include "gui/qt_text.h"

namespace torvane::gui {

namespace {

// The strip between the panel and the log: pressing on it and moving the
// mouse drags the panel's bottom edge (`dragged` gets the cursor's y in
// the pane).
class PanelEdge final : public QFrame {
 public:
  PanelEdge(QWidget* parent, std::function<void(int)> dragged)
      : QFrame(parent), dragged_(std::move(dragged)) {
    // Drawn as the bar between the left and the right pane is.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setCursor(Qt::SizeVerCursor);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QFrame::mousePressEvent(event);
    // The edge is where the panel ends: keep the offset of the press.
    offset_ = event->position().toPoint().y();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!(event->buttons() & Qt::LeftButton)) return QFrame::mouseMoveEvent(event);
    dragged_(mapToParent(event->position().toPoint()).y() - offset_);
  }

 private:
  std::function<void(int)> dragged_;
  int offset_ = 0;
};

}  // namespace

RightPaneWidget::RightPaneWidget(DownloadManager& manager, const IniAccess& ini, QWidget* parent)
    : QWidget(parent),
      manager_(manager),
      panel_(new AddItemsPanel(manager, ini, this)),
      edge_(new PanelEdge(this, [this](int y) { lay_out(y); })),
      log_(new QPlainTextEdit(this)) {
  log_->setReadOnly(true);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_->setUndoRedoEnabled(false);
  edge_->hide();
  log_->hide();
}

RightPaneWidget::~RightPaneWidget() = default;

void RightPaneWidget::append_header_log(std::string_view text) {
  const QString added = for_display(text);
  QTextDocument* document = log_->document();
  // characterCount() counts the last paragraph's end, which the text lacks.
  const auto current = static_cast<std::size_t>(document->characterCount() - 1);
  QTextCursor cursor(document);
  if (const std::size_t cut = header_log_cut(current, static_cast<std::size_t>(added.size()))) {
    cursor.setPosition(static_cast<int>(cut), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(added);
  // The caret follows the new text and the box scrolls to it: the newest
  // entry is the one in view, wherever the user had left the caret.
  log_->setTextCursor(cursor);
  log_->ensureCursorVisible();
}

void RightPaneWidget::relayout() {
  lay_out(panel_->height());
}

void RightPaneWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  relayout();
}

void RightPaneWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  relayout();
}

void RightPaneWidget::lay_out(int panel_height) {
  // A hidden pane's size is not yet the one it will show at: laid out now,
  // the panel would keep a place the stored LogHeight never chose.
  if (!isVisible()) return;
  const int pane = height();
  const bool filled = !log_shown_;
  const LogPaneLayout layout = manager_.with_settings([&](ProgramSettings& s) {
    const LogPaneLayout l = log_pane_layout(pane, panel_height, filled, s.log_view, s.log_height);
    s.log_height = l.log_height;
    return l;
  });
  log_shown_ = layout.log_shown;
  panel_->setGeometry(0, 0, width(), layout.panel_height);
  edge_->setVisible(layout.log_shown);
  log_->setVisible(layout.log_shown);
  if (!layout.log_shown) return;
  const int log_top = layout.panel_height + kLogGap;
  edge_->setGeometry(0, layout.panel_height, width(), kLogGap);
  log_->setGeometry(0, log_top, width(), std::max(pane - log_top, 0));
}

}  // namespace torvane::gui
