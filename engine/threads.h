// The engine's two worker threads and the work they share with the exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/engine_state.h"
#include "platform/wait_set.h"

namespace torvane::engine {

// Thread bodies; each runs until End is set in its control word.
void run_connection_thread(EngineState& engine);
void run_download_thread(EngineState& engine);

// The reconnect of division `div` (-1: every division) of a running item.
// Download thread only; other threads post a SlotRequest instead.
void reconnect_item(EngineState& engine, int slot, ItemData& item, int div, int count_retry);

// Puts statuses other than 1 and 2 of a running item back to 0 (dl_resume
// on an item in state 4). Download thread only.
void reset_divisions(EngineState& engine, int slot, ItemData& item, int div);

}  // namespace torvane::engine

namespace torvane::engine {

// Connection thread, item in state 3 or 4: sends whatever requests are due.
void send_due_requests(EngineState& engine, int slot, ItemData& item);

// The receiving sockets of one download-thread cycle: those of every running
// item, in slot and division order (at most 64 per item, and division 0
// alone while SpeedMode's size probe runs), watched together so that one
// probe a cycle tells which have bytes. Download thread only.
class ReceiveSet {
 public:
  struct Entry {
    int slot;
    int div;
    std::int32_t fd;
  };

  // Collects the sockets into `waits` (cleared first). True when a TLS
  // session of one of them holds bytes already read from its socket: then
  // no pause may wait for the socket.
  bool collect(EngineContext* ctx, platform::WaitSet& waits);
  // Takes every socket as ready without a probe (a lone one, whose
  // non-blocking read says itself whether bytes wait).
  void take_all_as_ready() { all_ready_ = true; }
  std::size_t size() const { return entries_.size(); }

  // The entries of `slot`, taken in ascending slot order during the cycle.
  std::pair<std::size_t, std::size_t> take(int slot);
  const Entry& entry(std::size_t k) const { return entries_[k]; }
  // Entry k was ready at the probe, or its TLS session holds bytes.
  bool ready(std::size_t k, const platform::WaitSet& waits) const;

 private:
  std::vector<Entry> entries_;
  std::size_t next_ = 0;
  bool all_ready_ = false;
};

// Download thread, item in state 3 or 4: one read for each of its divisions
// whose socket `receiving` found ready.
void receive_item(EngineState& engine, int slot, ItemData& item, ReceiveSet& receiving,
                  const platform::WaitSet& waits);

// Sockets the connection thread waits on during its pause. Returns true
// when a division is due but has no socket yet: then there is work now and
// no reason to pause.
bool watch_connecting(ItemData& item, platform::WaitSet& waits);

}  // namespace torvane::engine
