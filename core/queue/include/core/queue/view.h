// What the core shows through: the item list rows, the detail rows of the
// focused item, the header log, the status bar, messages and the limit
// panel's answer. The windowed program, the terminal front end and the test
// recorder implement it.
//
// Contract for implementations: any call may come from any thread (engine
// notices run on the engine's threads) while the core's lock is held. An
// implementation records or posts the update and returns at once; it never
// waits for another thread and never calls back into the manager.
#pragma once

#include <cstddef>
#include <string_view>

namespace torvane {

class View {
 public:
  virtual ~View() = default;

  // Rows first..last of the item list changed; last -1 means through the end.
  virtual void redraw_rows(int first, int last) = 0;
  // The list now holds `count` items (after a registration, a read or a removal).
  virtual void set_item_count(std::size_t count) = 0;
  // The focused row of the item list, or -1.
  virtual int focused_row() const = 0;
  // Writes detail row `row` in place, or appends it when the list is shorter.
  virtual void write_detail_row(int row, std::string_view text) = 0;
  virtual void clear_detail_rows() = 0;
  // Appends to the header log.
  virtual void append_header_log(std::string_view text) = 0;
  // Status bar part 0, 1 or 2.
  virtual void set_status_text(int part, std::string_view text) = 0;
  // A message box with its caption.
  virtual void show_message(std::string_view text, std::string_view caption) = 0;
  // The engine's answer to a limit change: ok 1 applied, 0 not; the limit in force.
  virtual void limit_changed(int ok, int limit) = 0;
};

}  // namespace torvane
