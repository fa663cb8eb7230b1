// The receive passes over a running item (download thread).
#include "engine/threads.h"

namespace torvane::engine {

void receive_item(EngineState& engine, int slot, ItemData& item) {
  (void)engine;
  (void)slot;
  (void)item;
}

void watch_receiving(ItemData& item, platform::WaitSet& waits) {
  (void)item;
  (void)waits;
}

}  // namespace torvane::engine
