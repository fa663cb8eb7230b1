// The core's View for the window: every call, from whichever thread makes
// it, is queued to the GUI thread and replayed there, in order, on the view
// that draws (the main window). Nothing here waits for the GUI thread, so an
// engine thread that raises a notice under the manager's lock is never held
// up by the window, and the window may call the manager at any time.
//
// The focused row is answered from an atomic copy that the GUI thread keeps
// up to date (set_focused_row), never by asking the GUI thread.
//
// Lifetime: made and destroyed on the GUI thread; the manager that calls it
// must be destroyed first. Calls queued for a sink that has gone are
// dropped (attach(nullptr) before the sink is destroyed).
#pragma once

#include <QObject>
#include <atomic>
#include <functional>

#include "core/queue/view.h"

namespace torvane::gui {

class QueuedView final : public QObject, public View {
  Q_OBJECT
 public:
  explicit QueuedView(QObject* parent = nullptr);

  // The view the queued calls are replayed on, on the GUI thread; null
  // drops them. GUI thread only.
  void attach(View* sink);
  // The focused row the manager asks for from any thread.
  void set_focused_row(int row) { focused_.store(row, std::memory_order_release); }

  void redraw_rows(int first, int last) override;
  void rows_inserted(int first, int last) override;
  void rows_removed(int first, int last) override;
  void set_item_count(std::size_t count) override;
  int focused_row() const override { return focused_.load(std::memory_order_acquire); }
  void write_detail_row(int row, std::string_view text) override;
  void clear_detail_rows() override;
  void append_header_log(std::string_view text) override;
  void set_status_text(int part, std::string_view text) override;
  void show_message(std::string_view text, std::string_view caption, MessageOwner owner,
                    MessageIcon icon) override;
  void limit_changed(int ok, int limit) override;

 private:
  // Queues `call` for the sink on the GUI thread. Calls made on the GUI
  // thread are queued too: run at once they could overtake a change an
  // engine thread queued before them, and the model would replay the
  // list's changes out of order.
  void post(std::function<void(View&)> call);

  View* sink_ = nullptr;
  std::atomic<int> focused_{-1};
};

}  // namespace torvane::gui
