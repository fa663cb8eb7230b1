// The connection thread: prepares started items and sends the requests that
// are due. It never waits on the network; its pause ends early when a socket
// it is connecting becomes writable or an export wakes it.
#include <mutex>

#include "engine/item_lifecycle.h"
#include "engine/threads.h"
#include "engine/url_split.h"
#include "platform/thread_time.h"
#include "platform/wait_set.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

void pause(EngineState& engine, platform::WaitSet& waits) {
  EngineContext* ctx = engine.ctx;
  const int wait_ms = load_relaxed(ctx->wait_ms);
  if (wait_ms <= 0) return;
  waits.clear();
  if ((load_acquire(ctx->conn_thread_ctl) & TVN_CTL_STOP) == 0) {
    const int count = slot_count_of(ctx);
    for (int slot = 0; slot < count; ++slot) {
      ItemData& item = *slot_at(ctx, slot);
      const int state = load_acquire(item.state);
      if (state == TVN_STATE_STARTED) return;  // work waits: no pause
      if (state != TVN_STATE_PROBING && state != TVN_STATE_DOWNLOADING) continue;
      if (!engine.conn_enter(slot)) continue;
      const bool due_now = load_acquire(item.state) == state && watch_connecting(item, waits);
      engine.conn_leave();
      if (due_now) return;  // a connect is due: no pause
    }
  }
  waits.wait(engine.conn_wake, wait_ms);
}

// dl_stop reads and writes div_stop under the engine lock; the arrays are
// replaced under it too, so a stop never meets a half-made or freed array.
// A stop that came before the arrays is taken here, under the same lock:
// `stopped` is set and nothing is prepared.
int prepare_locked(EngineState& engine, int slot, ItemData& item, bool& stopped) {
  std::lock_guard<std::recursive_mutex> lock(engine.mutex);
  stopped = std::erase(engine.early_stops, slot) != 0;
  return stopped ? kPrepareOk : prepare_item(item, engine.wide(slot), true, true);
}

void serve_slot(EngineState& engine, int slot) {
  ItemData& item = *slot_at(engine.ctx, slot);
  const int state = load_acquire(item.state);
  if (state == TVN_STATE_STARTED) {
    bool stopped = item.div_stop != nullptr && load_acquire(item.div_stop[item.div_count]) == 1;
    const int prepared = stopped ? kPrepareOk : prepare_locked(engine, slot, item, stopped);
    if (stopped) {
      drop_stopped_item(engine, slot, item);
    } else if (prepared != kPrepareOk) {
      if (prepared == kPrepareNoHost) report_resolve_failure(engine.ctx, slot, item);
      finish_item(engine, slot, item);  // still state 2: the final notice is 108
    }
    return;
  }
  if (!is_running(state) || !engine.conn_enter(slot)) return;
  // Re-read after announcing ourselves: the download thread may have
  // finished the item in between.
  const int now = load_acquire(item.state);
  if (is_running(now)) send_due_requests(engine, slot, item);
  engine.conn_leave();
}

}  // namespace

void run_connection_thread(EngineState& engine) {
  EngineContext* ctx = engine.ctx;
  store_release(ctx->conn_thread_id, platform::current_thread_id());
  platform::WaitSet waits;
  while ((load_acquire(ctx->conn_thread_ctl) & TVN_CTL_END) == 0) {
    pause(engine, waits);
    if (load_acquire(ctx->conn_thread_ctl) & TVN_CTL_STOP) {
      set_bits(ctx->conn_thread_ctl, TVN_CTL_STOP_OK);
      continue;
    }
    for (int slot = 0; slot < slot_count_of(ctx); ++slot) serve_slot(engine, slot);
  }
}

}  // namespace torvane::engine
