// The engine's two worker threads and the work they share with the exports.
#pragma once

#include "engine/engine_state.h"

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

// Download thread, item in state 3 or 4: the receive passes of one cycle.
void receive_item(EngineState& engine, int slot, ItemData& item);

// Sockets each thread waits on during its pause. watch_connecting returns
// true when a division is due but has no socket yet: then there is work now
// and no reason to pause.
bool watch_connecting(ItemData& item, platform::WaitSet& waits);
void watch_receiving(ItemData& item, platform::WaitSet& waits);
// True when a receiving division's TLS session holds bytes already read from
// its socket (download thread).
bool tls_bytes_waiting(ItemData& item);

}  // namespace torvane::engine
