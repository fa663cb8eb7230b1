// The calls the main window makes beside the list commands: the detail rows
// of the clicked row, deleting the selected rows or every row, the closing
// step, the engine's pause, the limit panel's answer and the settings
// written after the window's loop.
#include <algorithm>
#include <functional>

#include "core/queue/download_manager.h"
#include "torvane/shared_access.hpp"

namespace torvane {

void DownloadManager::show_focused_details() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const int k = view_.focused_row();
  const ListItem* item = items_.at(k);
  if (item == nullptr) return;
  view_.clear_detail_rows();
  tick_.refresh_item_status(k, item->slot_link >= 0 ? item->slot_link : -1);
}

void DownloadManager::remove_and_stop(int k, RemoveMode mode, bool stop_running) {
  const ListItem* item = items_.at(k);
  if (item == nullptr) return;
  const int link = stop_running ? item->slot_link : kNoSlot;
  // Removed first: the stop's notices then find no item to rest.
  remove_item(k, mode);
  if (link >= 0) binding_.stop(link, -1);
}

void DownloadManager::delete_rows(std::vector<int> rows) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // From the bottom up, so that each row still names the item it named
  // when the rows were chosen.
  std::sort(rows.begin(), rows.end(), std::greater<>());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (const int k : rows) {
    const ListItem* item = items_.at(k);
    if (item == nullptr) continue;
    remove_and_stop(k, RemoveMode::kQuiet, item->state != kWaiting && item->state != kResting);
  }
}

void DownloadManager::delete_all() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (std::size_t left = items_.size(); left > 0; --left) {
    const int state = items_.at(0)->state;
    const bool running = state != kWaiting && state != kFailed && state != kResting;
    remove_and_stop(0, left == 1 ? RemoveMode::kRedraw : RemoveMode::kQuiet, running);
  }
}

int DownloadManager::close_window(const WindowGeometry& geometry) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  int result = write_window_geometry(ini_, geometry);
  // A limit given for one run only is not the user's stored choice.
  if (config_.limit_override <= 0 && write_max_dl_files(ini_, settings_.max_dl_files) != 1)
    result = -1;
  // From now on no freed slot starts a waiting item and the tick is still.
  closing_ = true;
  settings_.list_busy = 1;
  return result;
}

int DownloadManager::set_thread_wait(int ms) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (ms <= 0 || !binding_.bound()) return -1;
  ms = std::min(ms, kMaxThreadWait);
  settings_.thread_wait = ms;
  store_relaxed(binding_.context().wait_ms, ms);
  return ms;
}

int DownloadManager::take_limit_answer(bool done, int limit, int shown) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // The panel's own figure when the engine did not take the change; a
  // limit outside 1..999 would stop every start or grow the slots unbounded.
  const int taken = std::clamp(done ? limit : shown, 1, kMaxMaxDlFiles);
  settings_.max_dl_files = taken;
  if (done) {
    int running = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
      const int state = items_.at(static_cast<std::int64_t>(i))->state;
      running += state >= kInitialising && state <= kFinished;
    }
    if (running < taken) scheduler_pass(-1, false);
  }
  return taken;
}

int DownloadManager::save_settings() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return write_settings(ini_, settings_);
}

}  // namespace torvane
