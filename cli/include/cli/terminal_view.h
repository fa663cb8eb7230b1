// The View of torvane-get. The manager calls it from its own and the
// engine's threads with the manager's lock held, so it only records: messages
// and (when asked for) header-log text are queued for the main loop to print,
// the status-bar texts and the engine's answer to a limit change are kept.
// It never writes to a stream itself, because a full pipe on standard error
// would then stall an engine thread.
//
// Thread-safe: every member takes the view's own mutex, which is never held
// while calling anything else.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/queue/view.h"

namespace torvane::cli {

// The list rows and detail rows have no place on a terminal (the main loop
// draws from its own snapshots): those calls stay QuietView's.
class TerminalView final : public QuietView {
 public:
  // `keep_header_log`: queue the header-log text (-v); otherwise it is dropped.
  explicit TerminalView(bool keep_header_log) : keep_header_log_(keep_header_log) {}

  void append_header_log(std::string_view text) override;
  void set_status_text(int part, std::string_view text) override;
  // A terminal has no owner window or icon; the caption leads the line.
  void show_message(std::string_view text, std::string_view caption, MessageOwner owner,
                    MessageIcon icon) override;
  void limit_changed(int ok, int limit) override;

  // Everything queued since the last call, as lines ending in '\n':
  // messages as "caption: text", header-log text as it came, with CR dropped.
  std::string take_output();
  // Status-bar field 0 to 2 as last set; "" for other fields.
  std::string status_text(int part) const;

  struct LimitAnswer {
    int ok = 0;
    int limit = 0;
  };
  // The last answer to a limit change, once one came.
  std::optional<LimitAnswer> limit_answer() const;

 private:
  void queue(std::string_view text);

  const bool keep_header_log_;
  mutable std::mutex mutex_;
  std::string pending_;
  std::array<std::string, 3> status_;
  std::optional<LimitAnswer> limit_answer_;
};

}  // namespace torvane::cli
