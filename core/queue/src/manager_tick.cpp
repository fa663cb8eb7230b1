// The one-second tick and the progress texts: slot states mirrored into the
// items, stalled divisions reconnected, speeds measured, the two status-bar
// summaries, rows redrawn, the detail rows of the focused item, the periodic
// list save and the timed shutdown. Runs on the front end's main thread
// under the manager's lock.
#include <optional>

#include "core/queue/download_manager.h"
#include "core/text/header_log.h"
#include "core/text/local_time_text.h"
#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

namespace torvane {

namespace {

bool time_field_matches(std::uint16_t stored, std::uint16_t now) {
  return stored == 9999 || stored == now;
}

}  // namespace

void DownloadManager::tick(std::uint32_t now_ms) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string now_text;
  format_local_time(clock_, kTimeSlash, now_text);
  view_.set_status_text(0, "Torvane " + now_text);
  if (!binding_.bound() || load_acquire(binding_.context().items) == nullptr) return;
  const std::uint32_t elapsed = now_ms - previous_tick_;
  int counters[8] = {};
  int connections = 0;
  double total = 0;
  int first_marked = -1;
  int last_marked = -1;
  const auto mark = [&](int row) {
    if (first_marked < 0) first_marked = row;
    last_marked = row;
  };
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const int k = static_cast<int>(i);
    ListItem& item = *items_.at(k);
    ItemData* record = item.slot_link >= 0 ? binding_.slot(item.slot_link) : nullptr;
    if (record == nullptr) {
      if (item.state >= 0 && item.state < 8) ++counters[item.state];
      if (settings_.strict_dl_info == 0) refresh_item_status(k, nullptr);
      continue;
    }
    const int slot_state = load_acquire(record->state);
    if (slot_state != item.state) {
      item.state = slot_state;
      mark(k);
    }
    if (item.state >= 0 && item.state < 8) ++counters[item.state];
    if (slot_state == TVN_STATE_PROBING || slot_state == TVN_STATE_DOWNLOADING) {
      watch_stalls(k, item, *record, now_ms);
    }
    if (slot_state == TVN_STATE_PROBING) ++connections;
    if (slot_state != TVN_STATE_DOWNLOADING) continue;
    connections += load_acquire(record->div_count);
    const std::uint64_t sum = bytes_done(*record, true).value_or(0);
    if (sum > 0 && elapsed != 0) {
      // After a reconnect fewer bytes may be counted than before: speed 0.
      const double speed = speed_between(item.last_bytes, sum, elapsed);
      total += speed;
      set_field(item.speed, format_speed(speed, settings_.bps == 1));
      item.last_bytes = static_cast<std::int64_t>(sum);
    }
    if (settings_.strict_dl_info == 0) refresh_item_status(k, record);
    mark(k);
  }
  stall_watch_.sweep();  // slots whose item ended since the last tick
  if (total < 0) total = 0;
  view_.set_status_text(2, format_text("Total(Connect:%.3d Speed:%s)", connections,
                                       format_speed(total, settings_.bps == 1).c_str()));
  view_.set_status_text(
      1, format_text("Item:%.3d(待機:%.3d 休憩:%.3d 失敗:%.3d)", static_cast<int>(items_.size()),
                     counters[kWaiting], counters[kResting], counters[kFailed]));
  if (first_marked >= 0) view_.redraw_rows(first_marked, last_marked);
  previous_tick_ = now_ms;
  save_if_dirty(now_ms);
  timed_shutdown_check();
}

void DownloadManager::watch_stalls(int k, ListItem& item, ItemData& record, std::uint32_t now_ms) {
  const int slot = item.slot_link;
  // The start tick tells one start of the item in the slot from the next.
  const std::uint64_t run = (item.serial << 32) ^ item.start_tick;
  for (const StallVerdict& stalled :
       stall_watch_.check(slot, run, sample_divisions(record), item.stall_rule, now_ms)) {
    // Counted: a server that never recovers uses up the attempts and the
    // item fails with this note as its reason.
    binding_.reconnect(slot, stalled.div, 1);
    if (stalled.note.empty()) continue;  // a finished division's idle connection
    item.reason = stalled.note;
    item.stall_note = stalled.note;
    if (settings_.list_busy == 0 && settings_.log_view == 0) {
      for (const std::string& piece : header_log_note(k, slot, stalled.div, stalled.note)) {
        view_.append_header_log(piece);
      }
    }
  }
}

void DownloadManager::timed_shutdown_check() {
  if (!items_.empty() || settings_.shut_down != 2) return;
  const LocalTime now = clock_.local_time();
  const LocalTime& at = settings_.shutdown_time;
  const bool second_ok =
      at.second == 9999 || (at.second + 9 >= now.second && now.second + 9 >= at.second);
  if (time_field_matches(at.year, now.year) && time_field_matches(at.month, now.month) &&
      time_field_matches(at.day, now.day) && time_field_matches(at.hour, now.hour) &&
      time_field_matches(at.minute, now.minute) && second_ok) {
    run_shutdown(MessageOwner::kMainWindow);
  }
}

void DownloadManager::refresh_item_status(int k, ItemData* slot) {
  ListItem* item = items_.at(k);
  if (item == nullptr || settings_.list_busy == 1) return;
  bool redraw = false;
  int slot_state = -1;
  if (slot != nullptr) {
    slot_state = load_acquire(slot->state);
    if (slot_state != item->state && item->slot_link != kNoSlot) {
      item->state = slot_state;
      redraw = true;
    }
  }
  if (slot != nullptr && slot_state == TVN_STATE_DOWNLOADING) {
    // Without a size probe the size is known once the first answer came.
    const bool sized = !(load_acquire(slot->options) & TVN_OPT_SPEED_MODE) ||
                       (load_acquire(slot->run_flags) & TVN_RUN_PROBE_DONE);
    const std::optional<std::uint64_t> done = sized ? bytes_done(*slot, false) : std::nullopt;
    if (done) {
      set_field(item->progress, progress_text(*done, load_acquire(slot->disk.file_size)));
      redraw = true;
    }
  }
  if (redraw) view_.redraw_rows(k, k);
  if (view_.focused_row() == k) write_detail_rows(*item, slot);
}

void DownloadManager::write_detail_rows(const ListItem& item, ItemData* slot) {
  if (slot != nullptr && item.state == kDownloading) {
    std::int32_t* status = load_acquire(slot->div_status);
    std::int32_t* retries = load_acquire(slot->div_retries);
    std::uint32_t* range_len = load_acquire(slot->disk.range_len);
    std::uint32_t* range_done = load_acquire(slot->disk.range_done);
    std::int32_t* buf_fill = load_acquire(slot->disk.buf_fill);
    if (status == nullptr || retries == nullptr || range_len == nullptr || range_done == nullptr ||
        buf_fill == nullptr) {
      return;
    }
    const int retry = load_acquire(slot->retry);
    const int n = load_acquire(slot->div_count);
    for (int d = 0; d < (n > 0 ? n : 1); ++d) {
      int tries = retry - load_relaxed(retries[d]) + 1;
      if (tries > retry) tries = retry;
      const std::uint32_t len = load_relaxed(range_len[d]);
      if (len == 0 && d != 0) continue;
      const std::int64_t done =
          static_cast<std::int64_t>(load_relaxed(range_done[d])) + load_relaxed(buf_fill[d]);
      view_.write_detail_row(d,
                             detail_row_text(d, load_relaxed(status[d]), tries, retry, done, len));
    }
  } else if (item.state == kFailed) {
    view_.write_detail_row(0, "ERROR");
  }
}

}  // namespace torvane
