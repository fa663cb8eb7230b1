// The manager's one-second tick: slot states mirrored into the items,
// stalled divisions reconnected, speeds measured, the progress and detail
// texts, the two status-bar summaries, rows redrawn, the periodic list save
// and the timed shutdown.
//
// It also keeps the progress texts between ticks: a notice that is to show
// progress at once (StrictDLInfo, or a final notice) asks it through
// refresh_item_status, so the texts have one writer.
//
// Not synchronised: the manager calls it under its lock, the tick on the
// front end's main thread and the refreshes on the engine's threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/queue/list_item.h"
#include "core/queue/list_store.h"
#include "core/queue/slot_table.h"
#include "core/queue/view.h"
#include "core/settings/settings.h"
#include "core/system/clock.h"

namespace torvane {

// What the tick leaves to the manager, which owns the engine and the power
// services. Called under the manager's lock.
struct TickHooks {
  // Division `div` of `slot` stalled: reconnect it, counted against its attempts.
  std::function<void(int slot, int div)> reconnect;
  // The set shutdown time has come with the list empty.
  std::function<void()> shut_down;
};

class ManagerTick {
 public:
  ManagerTick(ItemList& items, SlotTable& slots, View& view, const ProgramSettings& settings,
              ListStore& list, const Clock& clock, TickHooks hooks)
      : items_(items),
        slots_(slots),
        view_(view),
        settings_(settings),
        list_(list),
        clock_(clock),
        hooks_(std::move(hooks)) {}
  ManagerTick(const ManagerTick&) = delete;
  ManagerTick& operator=(const ManagerTick&) = delete;

  // The next speed is measured from `now_ms` (the start of the run).
  void measure_from(std::uint32_t now_ms) { previous_tick_ = now_ms; }
  // The clock in the status bar's first field; every tick shows it, engine or not.
  void show_clock();
  // The rest of the tick, while the engine runs; the list is saved when due.
  void run(std::uint32_t now_ms);

  // Item k's state and progress texts from its slot (-1: none), and its
  // detail rows when it is the focused row. Nothing while the list is busy.
  void refresh_item_status(int k, int slot);

 private:
  // What one tick counted over the items.
  struct Sums {
    int counters[8] = {};
    int connections = 0;
    double speed = 0;
    int first_marked = -1;  // the rows to redraw
    int last_marked = -1;
  };
  // One item's part of the tick; true when its row is to be redrawn.
  bool tick_item(int k, std::uint32_t now_ms, std::uint32_t elapsed, Sums& sums);
  void show_sums(const Sums& sums);
  void watch_stalls(int k, ListItem& item, std::uint32_t now_ms);
  void write_detail_rows(const ListItem& item, int slot);
  void timed_shutdown_check();

  ItemList& items_;
  SlotTable& slots_;
  View& view_;
  const ProgramSettings& settings_;
  ListStore& list_;
  const Clock& clock_;
  TickHooks hooks_;
  std::uint32_t previous_tick_ = 0;
};

}  // namespace torvane
