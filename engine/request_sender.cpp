// Sending the requests that are due for a running item (connection thread).
#include "engine/threads.h"

namespace torvane::engine {

void send_due_requests(EngineState& engine, int slot, ItemData& item) {
  (void)engine;
  (void)slot;
  (void)item;
}

void watch_connecting(ItemData& item, platform::WaitSet& waits) {
  (void)item;
  (void)waits;
}

}  // namespace torvane::engine
