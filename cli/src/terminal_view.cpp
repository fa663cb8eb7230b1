#include "cli/terminal_view.h"

namespace torvane::cli {

void TerminalView::queue(std::string_view text) {
  // Header texts and messages use CR LF; a terminal wants LF alone, and a
  // stray CR would send the next text back over this one.
  for (const char c : text) {
    if (c != '\r') pending_ += c;
  }
  if (!pending_.empty() && pending_.back() != '\n') pending_ += '\n';
}

void TerminalView::append_header_log(std::string_view text) {
  if (!keep_header_log_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  queue(text);
}

void TerminalView::set_status_text(int part, std::string_view text) {
  if (part < 0 || part >= static_cast<int>(status_.size())) return;
  std::lock_guard<std::mutex> lock(mutex_);
  status_[static_cast<std::size_t>(part)] = text;
}

void TerminalView::show_message(std::string_view text, std::string_view caption, MessageOwner,
                                MessageIcon) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string line(caption);
  line += ": ";
  line += text;
  queue(line);
}

void TerminalView::limit_changed(int ok, int limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  limit_answer_ = LimitAnswer{ok, limit};
}

std::string TerminalView::take_output() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  out.swap(pending_);
  return out;
}

std::string TerminalView::status_text(int part) const {
  if (part < 0 || part >= static_cast<int>(status_.size())) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  return status_[static_cast<std::size_t>(part)];
}

std::optional<TerminalView::LimitAnswer> TerminalView::limit_answer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return limit_answer_;
}

}  // namespace torvane::cli
