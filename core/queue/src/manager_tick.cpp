// The one-second tick and the progress texts: slot states mirrored into the
// items, stalled divisions reconnected, speeds measured, the two status-bar
// summaries, rows redrawn, the detail rows of the focused item, the periodic
// list save and the timed shutdown.
#include "core/queue/manager_tick.h"

#include "core/text/header_log.h"
#include "core/text/local_time_text.h"
#include "core/text/progress_text.h"
#include "core/text/text_util.h"

namespace torvane {

namespace {

bool time_field_matches(std::uint16_t stored, std::uint16_t now) {
  return stored == 9999 || stored == now;
}

}  // namespace

void ManagerTick::show_clock() {
  std::string now_text;
  format_local_time(clock_, kTimeSlash, now_text);
  view_.set_status_text(0, "Torvane " + now_text);
}

void ManagerTick::run(std::uint32_t now_ms) {
  Sums sums;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (tick_item(static_cast<int>(i), now_ms, now_ms - previous_tick_, sums)) {
      if (sums.first_marked < 0) sums.first_marked = static_cast<int>(i);
      sums.last_marked = static_cast<int>(i);
    }
  }
  slots_.sweep_stalls();  // slots whose item ended since the last tick
  show_sums(sums);
  if (sums.first_marked >= 0) view_.redraw_rows(sums.first_marked, sums.last_marked);
  previous_tick_ = now_ms;
  list_.save_if_due(items_, slots_, now_ms);
  timed_shutdown_check();
}

bool ManagerTick::tick_item(int k, std::uint32_t now_ms, std::uint32_t elapsed, Sums& sums) {
  ListItem& item = *items_.at(k);
  const int slot = item.slot_link;
  if (slot < 0 || slots_.record(slot) == nullptr) {
    if (item.state >= 0 && item.state < 8) ++sums.counters[item.state];
    if (settings_.strict_dl_info == 0) refresh_item_status(k, -1);
    return false;
  }
  const int slot_state = slots_.state(slot);
  bool changed = false;
  if (slot_state != item.state) {
    item.state = slot_state;
    changed = true;
  }
  if (item.state >= 0 && item.state < 8) ++sums.counters[item.state];
  if (slot_state == TVN_STATE_PROBING || slot_state == TVN_STATE_DOWNLOADING) {
    watch_stalls(k, item, now_ms);
  }
  sums.connections += slots_.connections(slot);
  if (slot_state != TVN_STATE_DOWNLOADING) return changed;
  const std::uint64_t sum = slots_.bytes(slot, true).value_or(0);
  if (sum > 0 && elapsed != 0) {
    // After a reconnect fewer bytes may be counted than before: speed 0.
    const double speed = speed_between(item.last_bytes, sum, elapsed);
    sums.speed += speed;
    set_field(item.speed, format_speed(speed, settings_.bps == 1));
    item.bytes_per_second = speed * 1000;
    item.last_bytes = static_cast<std::int64_t>(sum);
  }
  if (settings_.strict_dl_info == 0) refresh_item_status(k, slot);
  return true;
}

void ManagerTick::show_sums(const Sums& sums) {
  const double total = sums.speed < 0 ? 0 : sums.speed;
  view_.set_status_text(2, format_text("Total(Connect:%.3d Speed:%s)", sums.connections,
                                       format_speed(total, settings_.bps == 1).c_str()));
  view_.set_status_text(
      1, format_text("Item:%.3d(待機:%.3d 休憩:%.3d 失敗:%.3d)", static_cast<int>(items_.size()),
                     sums.counters[kWaiting], sums.counters[kResting], sums.counters[kFailed]));
}

void ManagerTick::watch_stalls(int k, ListItem& item, std::uint32_t now_ms) {
  const int slot = item.slot_link;
  // The start tick tells one start of the item in the slot from the next.
  const std::uint64_t run = (item.serial << 32) ^ item.start_tick;
  for (const StallVerdict& stalled : slots_.check_stalls(slot, run, item.stall_rule, now_ms)) {
    // Counted: a server that never recovers uses up the attempts and the
    // item fails with this note as its reason.
    hooks_.reconnect(slot, stalled.div);
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

void ManagerTick::timed_shutdown_check() {
  if (!items_.empty() || settings_.shut_down != 2) return;
  const LocalTime now = clock_.local_time();
  const LocalTime& at = settings_.shutdown_time;
  const bool second_ok =
      at.second == 9999 || (at.second + 9 >= now.second && now.second + 9 >= at.second);
  if (time_field_matches(at.year, now.year) && time_field_matches(at.month, now.month) &&
      time_field_matches(at.day, now.day) && time_field_matches(at.hour, now.hour) &&
      time_field_matches(at.minute, now.minute) && second_ok) {
    hooks_.shut_down();
  }
}

void ManagerTick::refresh_item_status(int k, int slot) {
  ListItem* item = items_.at(k);
  if (item == nullptr || settings_.list_busy == 1) return;
  bool redraw = false;
  if (slot >= 0 && slots_.record(slot) != nullptr) {
    const int slot_state = slots_.state(slot);
    if (slot_state != item->state && item->slot_link != kNoSlot) {
      item->state = slot_state;
      redraw = true;
    }
    if (const auto progress = slots_.sized_progress(slot)) {
      set_field(item->progress, progress_text(progress->first, progress->second));
      item->done_bytes = progress->first;
      item->size_bytes = progress->second;
      redraw = true;
    }
  } else {
    slot = -1;
  }
  if (redraw) view_.redraw_rows(k, k);
  if (view_.focused_row() == k) write_detail_rows(*item, slot);
}

void ManagerTick::write_detail_rows(const ListItem& item, int slot) {
  if (slot >= 0 && item.state == kDownloading) {
    const std::vector<DivisionRow> rows = slots_.division_rows(slot);
    for (std::size_t d = 0; d < rows.size(); ++d) {
      const DivisionRow& row = rows[d];
      if (row.length == 0 && d != 0) continue;
      view_.write_detail_row(static_cast<int>(d),
                             detail_row_text(static_cast<int>(d), row.status, row.tries, row.retry,
                                             row.done, row.length));
    }
    return;
  }
  // A row that failed or came to rest says why, under its "ERROR".
  int row = 0;
  if (item.state == kFailed) view_.write_detail_row(row++, "ERROR");
  if (!item.reason.empty() && (item.state == kFailed || item.state == kResting))
    view_.write_detail_row(row, "理由: " + item.reason);
}

}  // namespace torvane
