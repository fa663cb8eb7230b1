// The list file as the manager keeps it: read once at the start (a damaged
// file moved aside and what could be read written at once), written at a
// stop and at the end, and rewritten by the tick after a change or when the
// running items' files have grown. Running items are stored with their
// progress so far (read from their slots), so a program that is killed
// resumes them instead of downloading them again.
//
// Not synchronised: the manager calls it under its lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/queue/list_item.h"
#include "core/queue/slot_table.h"
#include "core/system/clock.h"

namespace torvane {

class ListStore {
 public:
  ListStore(std::string path, const Clock& clock) : path_(std::move(path)), clock_(clock) {}

  // Reads the file into `items`. 0, or -1 when it could not be read.
  // `messages` receives what the user is to be told: a file that is there
  // but cannot be read is held (never written in this run); a damaged one
  // is moved aside (held when it cannot be) and what was read written.
  int load(ItemList& items, SlotTable& slots, const EngineApi& api,
           std::vector<std::string>* messages);
  // Writes the file now (atomic replace); -1 while it is held.
  int write(const ItemList& items, SlotTable& slots, bool running_as_waiting, bool synced = true);
  // A change the file should get at the tick's next save.
  void mark_dirty() { dirty_ = true; }
  // Written, or about to be: nothing is due.
  void clear_dirty() { dirty_ = false; }
  // The tick's save: at most once a second, after a change, or every few
  // seconds while running items' files grow. Not synced.
  void save_if_due(const ItemList& items, SlotTable& slots, std::uint32_t now_ms);

 private:
  std::string path_;
  const Clock& clock_;
  bool dirty_ = false;
  std::uint32_t last_save_tick_ = 0;
  bool saved_before_ = false;
  // Bytes the running items had written at the last save.
  std::uint64_t saved_written_ = 0;
  // A damaged list file that could not be moved aside is not replaced.
  bool held_ = false;
};

}  // namespace torvane
