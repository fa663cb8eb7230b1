// What the core shows through: the item list rows, the detail rows of the
// focused item, the header log, the status bar, messages and the limit
// panel's answer. The windowed program, the terminal front end and the test
// recorder implement it.
//
// Threads. Any call may come from any thread: engine notices run on the
// engine's threads, and the manager calls its view while holding its own
// lock. An implementation therefore records the update, or posts it to the
// thread that draws, and returns at once. It never waits for another thread
// (not even for a queued call to be served), never takes a lock that is held
// while calling into the manager, and never calls back into the manager.
// focused_row() in particular is answered from a copy that the drawing
// thread keeps up to date and that any thread may read (an atomic), never by
// asking the drawing thread.
//
// Rows. Row i is item i of the manager's list at the time of the call. The
// calls arrive in the order the list changed, so a view that replays them in
// order (a table model posting begin/end insert and remove to its thread)
// stays in step with the list.
#pragma once

#include <cstddef>
#include <string_view>

namespace torvane {

// Whose window a message box belongs to: none (a box of its own) or the main
// window (it stays in front of it and blocks it while shown).
enum class MessageOwner { kNone, kMainWindow };
// The icon of a message box; kNone shows the text with an OK button only.
enum class MessageIcon { kNone, kInformation, kWarning };

class View {
 public:
  virtual ~View() = default;

  // Rows first..last of the item list changed; last -1 means through the end.
  virtual void redraw_rows(int first, int last) = 0;
  // Rows first..last (inclusive) were added; the rows from `first` on that
  // were there before now follow them.
  virtual void rows_inserted(int first, int last) = 0;
  // Rows first..last (inclusive) are gone; the later rows moved up.
  virtual void rows_removed(int first, int last) = 0;
  // The list now holds `count` items (after a registration, a read or a
  // removal); it follows the insert or remove call that changed the count.
  virtual void set_item_count(std::size_t count) = 0;
  // The focused row of the item list, or -1. See "Threads" above.
  virtual int focused_row() const = 0;
  // Writes detail row `row` in place, or appends it when the list is shorter.
  virtual void write_detail_row(int row, std::string_view text) = 0;
  virtual void clear_detail_rows() = 0;
  // Appends to the header log.
  virtual void append_header_log(std::string_view text) = 0;
  // The status bar's field 0, 1 or 2.
  virtual void set_status_text(int part, std::string_view text) = 0;
  // A message box with its caption, owner and icon. Shown without waiting:
  // the caller goes on at once, whatever the user answers.
  virtual void show_message(std::string_view text, std::string_view caption, MessageOwner owner,
                            MessageIcon icon) = 0;
  // The engine's answer to a limit change: ok 1 applied, 0 not; the limit in force.
  virtual void limit_changed(int ok, int limit) = 0;
};

// A view that shows nothing, for a front end that needs only a few of the
// calls (it overrides those).
class QuietView : public View {
 public:
  void redraw_rows(int, int) override {}
  void rows_inserted(int, int) override {}
  void rows_removed(int, int) override {}
  void set_item_count(std::size_t) override {}
  int focused_row() const override { return -1; }
  void write_detail_row(int, std::string_view) override {}
  void clear_detail_rows() override {}
  void append_header_log(std::string_view) override {}
  void set_status_text(int, std::string_view) override {}
  void show_message(std::string_view, std::string_view, MessageOwner, MessageIcon) override {}
  void limit_changed(int, int) override {}
};

}  // namespace torvane
