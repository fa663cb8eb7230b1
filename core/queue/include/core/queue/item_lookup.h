// Questions about the item list that the front ends ask before acting:
// whether a download is already queued, and whether a waiting item is left
// without anything that will start it.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/queue/download_manager.h"
#include "core/queue/list_item.h"

namespace torvane {

// The index of the first item with exactly this URL and save folder (as the
// item stores it), or -1. The caller holds the manager's lock
// (DownloadManager::with_items).
std::int64_t find_item(const ItemList& items, std::string_view url, std::string_view save_folder);

// A waiting item is started by the scheduler pass that a slot-freed notice
// runs. When nothing runs no such notice comes, and an item that could not
// be started when it was queued (the engine refused a slot for a moment)
// would wait for ever. The front end calls on_tick() once a tick; after two
// ticks in a row that find an item waiting and nothing running it runs the
// pass the notice would have run, and again on every further such tick.
// Two ticks, because a notice may be on its
// way. Belongs to the thread that drives the ticks.
class IdleStarter {
 public:
  // True when it ran a pass.
  bool on_tick(DownloadManager& manager);

 private:
  int idle_ticks_ = 0;
};

// True when nothing is linked or running and at least one item waits.
bool waiting_while_idle(const DownloadManager& manager);

}  // namespace torvane
