#include "core/queue/item_lookup.h"

namespace torvane {

std::int64_t find_item(const ItemList& items, std::string_view url, std::string_view save_folder) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ListItem* item = items.at(static_cast<std::int64_t>(i));
    if (item != nullptr && url == item->url && save_folder == item->save_folder)
      return static_cast<std::int64_t>(i);
  }
  return -1;
}

bool waiting_while_idle(const DownloadManager& manager) {
  return manager.with_items([&](const ItemList& items) {
    if (manager.busy()) return false;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (items.at(static_cast<std::int64_t>(i))->state == kWaiting) return true;
    }
    return false;
  });
}

bool IdleStarter::on_tick(DownloadManager& manager) {
  idle_ticks_ = waiting_while_idle(manager) ? idle_ticks_ + 1 : 0;
  // Every further idle tick runs the pass again: it is cheap, and the
  // engine may refuse the slot once more.
  if (idle_ticks_ < 2) return false;
  manager.scheduler_pass(-1, false);
  return true;
}

}  // namespace torvane
