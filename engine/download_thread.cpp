// The download thread: receives for every running item, acts on stop
// requests, carries out requests posted by other threads, handles the
// slot-table resize, and finishes items.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/disk_io.h"
#include "engine/heap.h"
#include "engine/item_lifecycle.h"
#include "engine/item_state.h"
#include "engine/threads.h"
#include "engine/tls_connection.h"
#include "platform/socket.h"
#include "platform/thread_time.h"
#include "platform/wait_set.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

// The cycle's one look at the receiving sockets. After a cycle that moved
// no data it is the pause: it waits at most wait_ms for a socket or a wake.
// After one that did, more data almost always waits: a zero-time-out probe,
// or none at all for a lone socket, whose non-blocking read tells.
void probe_receiving(EngineState& engine, ReceiveSet& receiving, platform::WaitSet& waits) {
  const bool moved = engine.reads_this_cycle != 0;
  const bool tls_waiting = receiving.collect(engine.ctx, waits);
  const int wait_ms = load_relaxed(engine.ctx->wait_ms);
  if (moved && receiving.size() == 1) {
    receiving.take_all_as_ready();
    return;
  }
  // Decrypted bytes wait inside a TLS session: no socket would end a pause.
  const bool pause = !moved && !tls_waiting && wait_ms > 0;
  if (pause || receiving.size() > 0) waits.poll(engine.dl_wake, pause ? wait_ms : 0);
}

// Ends the connection thread's pause again and clears the handshake.
void release_connection_thread(EngineContext* ctx) {
  clear_bits(ctx->conn_thread_ctl, TVN_CTL_STOP | TVN_CTL_STOP_OK);
}

// Grows the slot array to max_items + 10 records. The old array is kept
// readable (a client may still hold a pointer into it) until torvane_end.
bool grow_slots(EngineState& engine, int wanted) {
  EngineContext* ctx = engine.ctx;
  const int old_count = ctx->slot_count;
  const int new_count = wanted + 10;
  ItemData* fresh = zeroed_array<ItemData>(new_count);
  if (fresh == nullptr) return false;
  ItemData* old = ctx->items;
  if (old_count > 0) std::memcpy(static_cast<void*>(fresh), old, sizeof(ItemData) * old_count);
  for (int i = 0; i < new_count; ++i) {
    if (i >= old_count) fresh[i].owner = ctx;
    // The records moved: each count_ref must point at its own div_count.
    fresh[i].disk.count_ref = &fresh[i].div_count;
  }
  engine.retired.push_back(
      EngineState::Retired{std::unique_ptr<ItemData, FreeDeleter>(old), old_count});
  store_release(ctx->items, fresh);
  store_release(ctx->slot_count, new_count);
  return true;
}

void handle_resize(EngineState& engine) {
  EngineContext* ctx = engine.ctx;
  if ((load_acquire(ctx->conn_thread_ctl) & TVN_CTL_STOP_OK) == 0) {
    set_bits(ctx->conn_thread_ctl, TVN_CTL_STOP);
    engine.conn_wake.signal();
    return;
  }
  {
    // The array moves only while no other thread can be filling or starting
    // a slot: dl_set, dl_start and dl_resume hold this lock, and a slot in
    // state 1 is being filled through a pointer into the current array.
    std::unique_lock<std::recursive_mutex> lock(engine.mutex, std::try_to_lock);
    if (!lock.owns_lock()) return;
    const int count = ctx->slot_count;
    for (int i = 0; i < count; ++i) {
      if (load_acquire(ctx->items[i].state) == TVN_STATE_RESERVED) {
        release_connection_thread(ctx);  // do not hold every download up meanwhile
        return;
      }
    }
    const int wanted = load_acquire(ctx->max_items);
    if (wanted > count) {
      if (grow_slots(engine, wanted)) {
        set_bits(ctx->resize_ctl, TVN_RESIZE_DONE);
      } else {
        store_release(ctx->max_items, count);
      }
    } else {
      set_bits(ctx->resize_ctl, TVN_RESIZE_DONE);
    }
  }
  notify(ctx, TVN_NOTICE_RESIZED, 0, 0, nullptr);
  clear_bits(ctx->resize_ctl, TVN_RESIZE_REQUEST | TVN_RESIZE_DONE);
  release_connection_thread(ctx);
}

void carry_out_requests(EngineState& engine) {
  for (const SlotRequest& request : engine.take_requests()) {
    if (request.slot < 0 || request.slot >= slot_count_of(engine.ctx)) continue;
    ItemData& item = *slot_at(engine.ctx, request.slot);
    if (request.kind == SlotRequest::kFinish) {
      // The connection thread failed the item while sending; finishing it
      // is this thread's job, so nothing else can be reading its arrays.
      if (load_acquire(item.state) == TVN_STATE_FAILED && item.div_status != nullptr) {
        finish_running_item(engine, request.slot, item);
      }
      continue;
    }
    if (!is_running(item) || item.div_status == nullptr) continue;
    if (request.kind == SlotRequest::kReconnect) {
      reconnect_item(engine, request.slot, item, request.div, request.count_retry);
    } else {
      reset_divisions(engine, request.slot, item, request.div);
    }
  }
}

void serve_slot(EngineState& engine, int slot, ReceiveSet& receiving,
                const platform::WaitSet& waits) {
  ItemData& item = *slot_at(engine.ctx, slot);
  if (!is_running(item)) return;
  receive_item(engine, slot, item, receiving, waits);
  if (!is_running(item) || item.div_stop == nullptr) return;
  // A resumed record whose divisions had all ended before its stop (a stop
  // that met the last bytes) has nothing left to receive: without this look
  // it would stay running for ever instead of finishing.
  if (load_acquire(item.state) == TVN_STATE_DOWNLOADING &&
      !size_probe_running(load_acquire(item.run_flags)) && completion_check(engine, slot, item)) {
    return;
  }
  for (int j = 0; j < item.div_count; ++j) {
    if (load_acquire(item.div_stop[j]) == 1 && stop_division(engine, slot, item, j)) return;
  }
}

}  // namespace

void reconnect_item(EngineState& engine, int slot, ItemData& item, int div, int count_retry) {
  if (item.div_status == nullptr || !is_running(item)) return;
  const int n = item.div_count;
  if (div < -1 || div >= n) return;
  for (int d = (div == -1 ? 0 : div); d < (div == -1 ? n : div + 1); ++d) {
    const int status = load_acquire(item.div_status[d]);
    // One at status 0 belongs to the connection thread; if it is still
    // connecting (a connect that is never answered stays so for minutes),
    // that thread ends the connect and, counted, uses an attempt.
    if (status == TVN_DIV_IDLE) {
      engine.post_connect_drop(SlotRequest{SlotRequest::kReconnect, slot, d, count_retry});
      continue;
    }
    // Otherwise only a division that is waiting for its answer or receiving
    // has a connection to renew. A finished one has all its bytes (asked
    // again, it would be refused past its end until its attempts ran out)
    // and a failed one has used its attempts.
    if (status != TVN_DIV_SENT && status < TVN_DIV_HTTP_MIN) continue;
    close_connection(item.conn.sockets[d]);
    if (status > 99) write_division(engine, slot, item, d);
    store_relaxed(item.disk.buf_fill[d], 0);
    const ItemSizes sizes = engine.sizes(slot, item);
    const std::uint64_t len = sizes.len(d);
    if (len != 0 && sizes.done(d) >= len) {
      // Its range is complete; only the connection was still open.
      set_division_status(item, d, TVN_DIV_DONE);
      if (completion_check(engine, slot, item)) return;
    } else if (count_retry == 1 && load_relaxed(item.div_retries[d]) < 2) {
      set_division_status(item, d, TVN_DIV_FAILED);
      if (completion_check(engine, slot, item)) return;
    } else {
      if (count_retry == 1) store_relaxed(item.div_retries[d], item.div_retries[d] - 1);
      set_division_status(item, d, TVN_DIV_IDLE);
    }
  }
  engine.conn_wake.signal();
}

void reset_divisions(EngineState& engine, int slot, ItemData& item, int div) {
  (void)slot;
  for (int i = 0; i < item.div_count; ++i) {
    if (div != -1 && i != div) continue;
    const int status = load_acquire(item.div_status[i]);
    // A division that is receiving keeps its connection: putting it back to 0
    // would request its range a second time on top of the bytes in its share.
    if (status == TVN_DIV_FAILED) set_division_status(item, i, TVN_DIV_IDLE);
  }
  engine.conn_wake.signal();
}

void run_download_thread(EngineState& engine) {
  EngineContext* ctx = engine.ctx;
  const std::uint32_t id = platform::current_thread_id();
  engine.dl_thread_id.store(id, std::memory_order_release);
  store_release(ctx->dl_thread_id, id);
  platform::WaitSet waits;
  ReceiveSet receiving;
  while ((load_acquire(ctx->dl_thread_ctl) & TVN_CTL_END) == 0) {
    probe_receiving(engine, receiving, waits);
    engine.reads_this_cycle = 0;
    if (load_acquire(ctx->dl_thread_ctl) & TVN_CTL_STOP) {
      set_bits(ctx->dl_thread_ctl, TVN_CTL_STOP_OK);
      continue;
    }
    if (load_acquire(ctx->resize_ctl) & TVN_RESIZE_REQUEST) {
      handle_resize(engine);
      continue;
    }
    carry_out_requests(engine);
    for (int slot = 0; slot < slot_count_of(ctx); ++slot)
      serve_slot(engine, slot, receiving, waits);
  }
}

}  // namespace torvane::engine
