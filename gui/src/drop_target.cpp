#include "gui/drop_target.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEvent>
#include <QUrl>
#include <string>
#include <utility>
#include <vector>

namespace torvane::gui {

namespace {

std::uint32_t key_state_of(Qt::MouseButtons buttons, Qt::KeyboardModifiers keys) {
  std::uint32_t state = 0;
  if (buttons & Qt::LeftButton) state |= kDropLeftButton;
  if (buttons & Qt::RightButton) state |= kDropRightButton;
  if (buttons & Qt::MiddleButton) state |= kDropMiddleButton;
  if (keys & Qt::ShiftModifier) state |= kDropShift;
  if (keys & Qt::ControlModifier) state |= kDropControl;
  if (keys & Qt::AltModifier) state |= kDropAlt;
  return state;
}

// What a drop brings, held while the handler runs.
struct Fetched {
  int format = kDropNone;
  std::string text;
  std::vector<std::string> files;
};

Fetched fetch(const QMimeData* mime) {
  Fetched out;
  if (mime == nullptr) return out;
  // A file manager's drag carries the files' URIs as text too; the files
  // come first, so a dropped file gives its path rather than a file: URL.
  if (mime->hasUrls()) {
    for (const QUrl& url : mime->urls()) {
      if (url.isLocalFile()) out.files.push_back(url.toLocalFile().toStdString());
    }
    if (!out.files.empty()) {
      out.format = kDropFiles;
      return out;
    }
  }
  if (mime->hasText()) {
    out.format = kDropText;
    out.text = mime->text().toStdString();
  }
  return out;
}

class DropFilter final : public QObject {
 public:
  DropFilter(QWidget* widget, DropHandler handler)
      : QObject(widget), widget_(widget), handler_(std::move(handler)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
        answer(kDragEnter, static_cast<QDropEvent*>(event), true);
        return true;
      case QEvent::DragMove:
        answer(kDragOver, static_cast<QDropEvent*>(event), false);
        return true;
      case QEvent::DragLeave:
        record_ = DropEvent{nullptr, record_.effect, 0, kDropNone, nullptr, nullptr, nullptr};
        handler_(kDragLeave, record_);
        event->accept();
        return true;
      case QEvent::Drop:
        answer(kDrop, static_cast<QDropEvent*>(event), true);
        return true;
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  void answer(int code, QDropEvent* event, bool with_data) {
    // On the screen, as the cursor's place is given to a drop target.
    const QPoint point = widget_->mapToGlobal(event->position().toPoint());
    const Fetched fetched = with_data ? fetch(event->mimeData()) : Fetched{};
    const char* data = nullptr;
    if (fetched.format == kDropFiles) data = fetched.files.front().c_str();
    if (fetched.format == kDropText) data = fetched.text.c_str();
    record_.point = &point;
    record_.key_state = key_state_of(event->buttons(), event->modifiers());
    record_.format = fetched.format;
    record_.data = data;
    record_.file_block = fetched.format == kDropFiles ? &fetched.files : nullptr;
    record_.data_object = with_data ? event->mimeData() : nullptr;
    handler_(code, record_);
    // Nothing the handler saw outlives the call.
    record_.point = nullptr;
    record_.data = nullptr;
    record_.file_block = nullptr;
    record_.data_object = nullptr;
    if (record_.effect & (kDropEffectCopy | kDropEffectLink)) {
      event->setDropAction(Qt::CopyAction);
      event->accept();
    } else if (record_.effect & kDropEffectMove) {
      event->setDropAction(Qt::MoveAction);
      event->accept();
    } else {
      event->ignore();
    }
  }

  QWidget* widget_;  // the filter's parent
  DropHandler handler_;
  DropEvent record_{nullptr, kDropEffectNone, 0, kDropNone, nullptr, nullptr, nullptr};
};

}  // namespace

bool register_drop_target(QWidget* widget, DropHandler handler) {
  if (widget == nullptr || !handler) return false;
  // The filter is the widget's child, so it goes with it.
  widget->installEventFilter(new DropFilter(widget, std::move(handler)));
  widget->setAcceptDrops(true);
  return true;
}

}  // namespace torvane::gui
