#include "gui/queued_view.h"

#include <QMetaObject>
#include <string>

namespace torvane::gui {

QueuedView::QueuedView(QObject* parent) : QObject(parent) {}

void QueuedView::attach(View* sink) {
  sink_ = sink;
}

void QueuedView::post(std::function<void(View&)> call) {
  // The view is this object's context: calls still queued when it goes are
  // dropped with it.
  QMetaObject::invokeMethod(
      this,
      [this, call = std::move(call)] {
        if (sink_ != nullptr) call(*sink_);
      },
      Qt::QueuedConnection);
}

void QueuedView::redraw_rows(int first, int last) {
  post([=](View& v) { v.redraw_rows(first, last); });
}

void QueuedView::rows_inserted(int first, int last) {
  post([=](View& v) { v.rows_inserted(first, last); });
}

void QueuedView::rows_removed(int first, int last) {
  post([=](View& v) { v.rows_removed(first, last); });
}

void QueuedView::set_item_count(std::size_t count) {
  post([=](View& v) { v.set_item_count(count); });
}

void QueuedView::write_detail_row(int row, std::string_view text) {
  post([row, text = std::string(text)](View& v) { v.write_detail_row(row, text); });
}

void QueuedView::clear_detail_rows() {
  post([](View& v) { v.clear_detail_rows(); });
}

void QueuedView::append_header_log(std::string_view text) {
  post([text = std::string(text)](View& v) { v.append_header_log(text); });
}

void QueuedView::set_status_text(int part, std::string_view text) {
  post([part, text = std::string(text)](View& v) { v.set_status_text(part, text); });
}

void QueuedView::show_message(std::string_view text, std::string_view caption, MessageOwner owner,
                              MessageIcon icon) {
  post([text = std::string(text), caption = std::string(caption), owner, icon](View& v) {
    v.show_message(text, caption, owner, icon);
  });
}

void QueuedView::limit_changed(int ok, int limit) {
  post([=](View& v) { v.limit_changed(ok, limit); });
}

}  // namespace torvane::gui
