// The exported entry points of the engine: context life, slot hand-out and
// start, stop, resume and reconnect, record copies and the shared heap.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/disk_io.h"
#include "engine/engine_state.h"
#include "engine/heap.h"
#include "engine/item_lifecycle.h"
#include "engine/item_state.h"
#include "engine/threads.h"
#include "engine/url_split.h"
#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

using namespace torvane;
using namespace torvane::engine;

namespace {

bool valid_slot(EngineContext* ctx, int slot) {
  return slot >= 0 && slot < slot_count_of(ctx);
}

template <class T>
bool duplicate_array(T*& field, int count) {
  if (field == nullptr || count <= 0) {
    field = nullptr;
    return true;
  }
  T* copy = static_cast<T*>(std::malloc(sizeof(T) * static_cast<std::size_t>(count)));
  if (copy == nullptr) {
    field = nullptr;
    return false;
  }
  std::memcpy(copy, field, sizeof(T) * static_cast<std::size_t>(count));
  field = copy;
  return true;
}

void stop_thread(std::uint32_t& ctl, std::thread& thread, platform::WakeEvent& wake) {
  set_bits(ctl, TVN_CTL_END);
  wake.signal();
  if (!thread.joinable()) return;
  try {
    thread.join();
    set_bits(ctl, TVN_CTL_END_OK);
  } catch (const std::system_error&) {
    set_bits(ctl, TVN_CTL_END_FAIL);
  }
}

// After a plain copy of src into dst: every text and division array becomes
// dst's own copy, and the engine's blocks that belong to a running slot are
// dropped. False when memory ran out (what was copied is left to free).
bool copy_owned_blocks(ItemData& dst, const ItemData& src) {
  const int n = src.div_count > 0 ? src.div_count : 1;
  // Every url buffer the engine may rewrite on a redirect holds a full URL.
  dst.url = duplicate_text(src.url, TVN_URL_CAPACITY);
  dst.referer = duplicate_text(src.referer);
  dst.user_agent = duplicate_text(src.user_agent);
  dst.reserved_text = duplicate_text(src.reserved_text);
  dst.save_path = duplicate_text(src.save_path);
  dst.proxy = duplicate_text(src.proxy);
  dst.disk.file_name = duplicate_text(src.disk.file_name);
  bool ok = (!src.url || dst.url) && (!src.referer || dst.referer) &&
            (!src.user_agent || dst.user_agent) && (!src.reserved_text || dst.reserved_text) &&
            (!src.save_path || dst.save_path) && (!src.proxy || dst.proxy) &&
            (!src.disk.file_name || dst.disk.file_name);
  ok = duplicate_array(dst.div_status, n) && ok;
  ok = duplicate_array(dst.div_retries, n) && ok;
  ok = duplicate_array(dst.div_stop, n + 1) && ok;
  ok = duplicate_array(dst.conn.sockets, n) && ok;
  ok = duplicate_array(dst.disk.range_len, n) && ok;
  ok = duplicate_array(dst.disk.range_done, n) && ok;
  ok = duplicate_array(dst.disk.buf_fill, n) && ok;
  dst.disk.buf_ptr = src.disk.buf_ptr != nullptr ? zeroed_array<char*>(n) : nullptr;
  ok = ok && (src.disk.buf_ptr == nullptr || dst.disk.buf_ptr != nullptr);
  dst.conn.host = nullptr;
  dst.request_path = nullptr;
  dst.conn.host_entry = nullptr;
  dst.disk.buf_block = nullptr;
  dst.disk.count_ref = &dst.div_count;
  return ok;
}

// The live record of dl_stop's `item`: a pointer into an array that a resize
// replaced is forwarded to the record of the same slot. Under the engine lock.
ItemData* live_record(EngineState& state, ItemData* item) {
  for (const auto& old : state.retired) {
    ItemData* base = old.items.get();
    if (item >= base && item < base + old.count)
      return slot_at(state.ctx, static_cast<int>(item - base));
  }
  return item;
}

// dl_stop of an item started but not prepared yet: there is nothing to stop
// but the start itself, which the connection thread then drops instead of
// preparing. Under the engine lock.
int stop_before_preparation(EngineState* state, ItemData* item) {
  if (state == nullptr || load_acquire(item->state) != TVN_STATE_STARTED) return -1;
  const std::ptrdiff_t slot = item - slot_at(state->ctx, 0);
  if (slot < 0 || slot >= slot_count_of(state->ctx)) return -1;
  if (std::find(state->early_stops.begin(), state->early_stops.end(), slot) ==
      state->early_stops.end()) {
    state->early_stops.push_back(static_cast<int>(slot));
  }
  state->conn_wake.signal();
  return 0;
}

}  // namespace

extern "C" {

TORVANE_API int torvane_init(EngineContext* ctx, int mode) {
  if (mode > 0) return 1;
  if (ctx == nullptr) return 2;
  const int count = ctx->max_items > 0 ? ctx->max_items : 0;
  ItemData* items = zeroed_array<ItemData>(count);
  if (items == nullptr) return 2;
  for (int i = 0; i < count; ++i) items[i].owner = ctx;
  auto engine = std::unique_ptr<EngineState>(new (std::nothrow) EngineState(ctx));
  if (!engine || !engine->dl_wake.valid() || !engine->conn_wake.valid()) {
    std::free(items);
    return 2;
  }
  ctx->items = items;
  ctx->slot_count = count;
  ctx->resize_ctl = 0;
  EngineState* state = engine.get();
  store_release(ctx->dl_thread, static_cast<void*>(state));
  store_release(ctx->conn_thread, static_cast<void*>(state));
  store_release(ctx->dl_thread_ctl, 0u);
  try {
    state->dl_thread = std::thread(run_download_thread, std::ref(*state));
  } catch (const std::system_error&) {
    ctx->dl_thread = ctx->conn_thread = nullptr;
    ctx->items = nullptr;
    ctx->slot_count = 0;
    std::free(items);
    return 3;
  }
  store_release(ctx->conn_thread_ctl, 0u);
  try {
    state->conn_thread = std::thread(run_connection_thread, std::ref(*state));
  } catch (const std::system_error&) {
    stop_thread(ctx->dl_thread_ctl, state->dl_thread, state->dl_wake);
    ctx->dl_thread = ctx->conn_thread = nullptr;
    ctx->items = nullptr;
    ctx->slot_count = 0;
    std::free(items);
    return 3;
  }
  engine.release();  // owned through the context until torvane_end
  return 1;
}

TORVANE_API int torvane_end(EngineContext* ctx) {
  EngineState* state = state_of(ctx);
  if (state == nullptr) return 0;
  stop_thread(ctx->conn_thread_ctl, state->conn_thread, state->conn_wake);
  stop_thread(ctx->dl_thread_ctl, state->dl_thread, state->dl_wake);
  std::free(ctx->items);
  store_release(ctx->items, nullptr);
  store_release(ctx->dl_thread, nullptr);
  store_release(ctx->conn_thread, nullptr);
  delete state;  // frees the retired arrays too
  const std::uint32_t fail = TVN_CTL_END_FAIL;
  return ((ctx->dl_thread_ctl | ctx->conn_thread_ctl) & fail) ? 0 : 1;
}

TORVANE_API int dl_set(EngineContext* ctx) {
  EngineState* state = state_of(ctx);
  if (state == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> lock(state->mutex);
  const int count = slot_count_of(ctx);
  ItemData* items = slot_at(ctx, 0);
  int occupied = 0;
  for (int i = 0; i < count; ++i) {
    const int s = load_acquire(items[i].state);
    if (s != TVN_STATE_EMPTY && s != TVN_STATE_FREE) ++occupied;
  }
  if (occupied >= load_acquire(ctx->max_items)) return -1;
  for (int i = 0; i < count; ++i) {
    const int s = load_acquire(items[i].state);
    if (s == TVN_STATE_EMPTY || s == TVN_STATE_FREE) {
      // A record restored from a saved copy may carry an owner from an
      // earlier run; the slot belongs to this context now.
      store_release(items[i].owner, ctx);
      set_item_state(items[i], TVN_STATE_RESERVED);
      return i;
    }
  }
  return -1;
}

TORVANE_API int dl_start(EngineContext* ctx, int slot) {
  EngineState* state = state_of(ctx);
  if (state == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> lock(state->mutex);
  if (!valid_slot(ctx, slot)) return -1;
  ItemData& item = *slot_at(ctx, slot);
  // Only a slot reserved by dl_set may start: starting a running one would
  // hand the same record to both threads twice.
  if (load_acquire(item.state) != TVN_STATE_RESERVED) return -1;
  store_release(item.owner, ctx);
  if (!(item.options & TVN_OPT_MEMORY_FETCH) && open_item_file(ctx, slot, item) != 0) return -1;
  set_item_state(item, TVN_STATE_STARTED);
  state->conn_wake.signal();
  return 0;
}

TORVANE_API int dl_resume(EngineContext* ctx, int slot, int div) {
  EngineState* state = state_of(ctx);
  if (state == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> lock(state->mutex);
  if (!valid_slot(ctx, slot)) return -1;
  ItemData& item = *slot_at(ctx, slot);
  const int s = load_acquire(item.state);
  if (s == TVN_STATE_RESERVED || s == TVN_STATE_STARTED || s == TVN_STATE_PROBING) return -1;
  if (item.div_status == nullptr) return -1;
  if (div < -1 || div >= (item.div_count > 0 ? item.div_count : 1)) return -1;
  store_release(item.owner, ctx);
  if (s != TVN_STATE_DOWNLOADING) {
    // Not running: whatever handle the record carries is from a file that
    // was closed when the item ended, so it is not ours to use or close.
    item.disk.file = 0;
  }
  if (open_item_file(ctx, slot, item) != 0) return -1;
  if (s == TVN_STATE_DOWNLOADING) {
    // The engine threads own a running item; its reset happens on the
    // download thread so no division changes under a receive.
    state->post(SlotRequest{SlotRequest::kResumeReset, slot, div, 0});
    return 0;
  }
  if (const int prepared = prepare_item(item, state->wide(slot), false, false);
      prepared != kPrepareOk) {
    if (prepared == kPrepareNoHost) report_resolve_failure(ctx, slot, item);
    DiskIO_CloseHandle(&item.disk);
    set_item_state(item, TVN_STATE_FAILED);
    notify(ctx, TVN_NOTICE_FAILED, slot, 0, nullptr);
    return -1;
  }
  const int n = item.div_count;
  for (int i = 0; i < n; ++i) {
    if (div != -1 && i != div) continue;
    // Nothing is under way in a record that is not running, so a "sent"
    // division would never be answered: it is asked again as well.
    if (item.div_status[i] != TVN_DIV_DONE)
      set_division_status(item, i, TVN_DIV_IDLE, std::memory_order_relaxed);
    store_relaxed(item.disk.buf_fill[i], 0);
  }
  set_item_state(item, TVN_STATE_DOWNLOADING);
  state->wake_all();
  return 0;
}

TORVANE_API int dl_stop(ItemData* item, int div) {
  if (item == nullptr) return -1;
  EngineState* state = state_of(load_acquire(item->owner));
  std::unique_lock<std::recursive_mutex> lock;
  if (state != nullptr) {
    lock = std::unique_lock<std::recursive_mutex>(state->mutex);
    item = live_record(*state, item);
  }
  // Checked on the live record: a copy left in a retired table may predate
  // the arrays.
  if (item->div_stop == nullptr) return stop_before_preparation(state, item);
  const int n = item->div_count > 0 ? item->div_count : 1;
  if (div < -1 || div >= n) return -1;
  auto finished = [&](int i) {
    return item->div_status != nullptr && load_acquire(item->div_status[i]) == TVN_DIV_DONE;
  };
  if (div == -1) {
    for (int i = 0; i < n; ++i)
      if (!finished(i)) store_release(item->div_stop[i], 1);
    store_release(item->div_stop[item->div_count], 1);
  } else if (!finished(div)) {
    store_release(item->div_stop[div], 1);
  }
  if (state != nullptr) state->wake_all();
  return 0;
}

TORVANE_API int dl_reconnect(EngineContext* ctx, int slot, int div, int count_retry) {
  EngineState* state = state_of(ctx);
  if (state == nullptr || !valid_slot(ctx, slot)) return -1;
  // A division that the item cannot have is refused at once rather than
  // indexing past the arrays later.
  if (div < -1 || div >= std::max(load_acquire(slot_at(ctx, slot)->div_count), 1)) return -1;
  if (state->on_download_thread()) {
    reconnect_item(*state, slot, *slot_at(ctx, slot), div, count_retry);
  } else {
    // Only the download thread may touch a division that is receiving; the
    // request is carried out at the top of its next cycle.
    state->post(SlotRequest{SlotRequest::kReconnect, slot, div, count_retry});
  }
  return 0;
}

TORVANE_API WideSizes* dl_wide(EngineContext* ctx, int slot) {
  EngineState* state = state_of(ctx);
  if (state == nullptr || !valid_slot(ctx, slot)) return nullptr;
  return &state->wide(slot);
}

TORVANE_API ItemData* copy_itemdata(ItemData* dst, const ItemData* src) {
  if (src == nullptr) return nullptr;
  const bool allocated = dst == nullptr;
  if (allocated) {
    dst = zeroed_array<ItemData>(1);
    if (dst == nullptr) return nullptr;
  } else {
    free_itemdata(dst);
  }
  // A reserved slot (state 1) stays reserved while it is filled: publishing
  // the source's running state here would let the engine threads serve a
  // record whose sockets and buffers are not its own yet.
  const std::int32_t keep_state = allocated ? src->state : load_acquire(dst->state);
  std::memcpy(reinterpret_cast<char*>(dst) + sizeof dst->state,
              reinterpret_cast<const char*>(src) + sizeof src->state,
              sizeof(ItemData) - sizeof dst->state);
  set_item_state(*dst, keep_state == TVN_STATE_RESERVED ? keep_state : src->state);
  if (!copy_owned_blocks(*dst, *src)) {
    free_itemdata(dst);
    if (allocated) std::free(dst);
    return nullptr;
  }
  return dst;
}

TORVANE_API int free_itemdata(ItemData* item) {
  if (item == nullptr) return -1;
  char** strings[] = {
      &item->referer,      &item->user_agent,    &item->reserved_text,  &item->url,
      &item->save_path,    &item->proxy,         &item->disk.file_name, &item->conn.host,
      &item->request_path, &item->disk.buf_block};
  for (char** s : strings) {
    std::free(*s);
    *s = nullptr;
  }
  void** arrays[] = {reinterpret_cast<void**>(&item->div_status),
                     reinterpret_cast<void**>(&item->div_retries),
                     reinterpret_cast<void**>(&item->div_stop),
                     reinterpret_cast<void**>(&item->conn.sockets),
                     reinterpret_cast<void**>(&item->disk.range_len),
                     reinterpret_cast<void**>(&item->disk.range_done),
                     reinterpret_cast<void**>(&item->disk.buf_ptr),
                     reinterpret_cast<void**>(&item->disk.buf_fill)};
  for (void** a : arrays) {
    std::free(*a);
    *a = nullptr;
  }
  return 0;
}

TORVANE_API void* GetMem(unsigned size) {
  return std::calloc(size > 0 ? size : 1, 1);
}

TORVANE_API void FreeMem(void* p) {
  if (p == nullptr) return;
  void** slot = static_cast<void**>(p);
  std::free(*slot);
  *slot = nullptr;
}

}  // extern "C"
