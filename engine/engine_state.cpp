#include "engine/engine_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/heap.h"
#include "platform/thread_time.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {

void FreeDeleter::operator()(void* p) const {
  std::free(p);
}

EngineState::~EngineState() {
  for (WideSizes& wide : wide_) {
    std::free(wide.range_len);
    std::free(wide.range_done);
  }
}

WideSizes& EngineState::wide(int slot) {
  std::lock_guard<std::mutex> lock(wide_mutex_);
  if (wide_.size() <= static_cast<std::size_t>(slot))
    wide_.resize(static_cast<std::size_t>(slot) + 1, WideSizes{});
  return wide_[static_cast<std::size_t>(slot)];
}

void EngineState::post(const SlotRequest& request) {
  {
    std::lock_guard<std::mutex> lock(requests_mutex_);
    requests_.push_back(request);
  }
  dl_wake.signal();
}

std::deque<SlotRequest> EngineState::take_requests() {
  std::lock_guard<std::mutex> lock(requests_mutex_);
  std::deque<SlotRequest> taken;
  taken.swap(requests_);
  return taken;
}

void EngineState::post_connect_drop(const SlotRequest& request) {
  {
    std::lock_guard<std::mutex> lock(requests_mutex_);
    connect_drops_.push_back(request);
  }
  conn_wake.signal();
}

std::vector<SlotRequest> EngineState::take_connect_drops(int slot) {
  std::vector<SlotRequest> taken;
  std::lock_guard<std::mutex> lock(requests_mutex_);
  if (connect_drops_.empty()) return taken;
  for (const SlotRequest& request : connect_drops_) {
    if (request.slot == slot) taken.push_back(request);
  }
  std::erase_if(connect_drops_, [slot](const SlotRequest& r) { return r.slot == slot; });
  return taken;
}

void EngineState::forget_connect_drops(int slot) {
  std::lock_guard<std::mutex> lock(requests_mutex_);
  std::erase_if(connect_drops_, [slot](const SlotRequest& r) { return r.slot == slot; });
}

bool EngineState::conn_enter(int slot) {
  conn_slot_.store(slot, std::memory_order_seq_cst);
  if (dl_slot_.load(std::memory_order_seq_cst) == slot) {
    conn_slot_.store(-1, std::memory_order_seq_cst);
    return false;
  }
  return true;
}

ConnExclusion::ConnExclusion(EngineState& engine, int slot)
    : engine_(engine), previous_(engine.dl_slot_.exchange(slot, std::memory_order_seq_cst)) {
  while (engine.conn_slot_.load(std::memory_order_seq_cst) == slot) std::this_thread::yield();
}

bool EngineState::on_download_thread() const {
  return dl_thread_id.load(std::memory_order_acquire) == platform::current_thread_id();
}

EngineState* state_of(const EngineContext* ctx) {
  if (ctx == nullptr) return nullptr;
  return static_cast<EngineState*>(load_acquire(const_cast<EngineContext*>(ctx)->dl_thread));
}

ItemData* slot_at(EngineContext* ctx, int slot) {
  ItemData* items = load_acquire(ctx->items);
  return items == nullptr ? nullptr : items + slot;
}

int slot_count_of(EngineContext* ctx) {
  return load_acquire(ctx->slot_count);
}

int notify(EngineContext* ctx, int code, int slot, int div, void* data) {
  const TorvaneCallback cb = ctx->callback;
  if (cb == nullptr) return 0;
  return cb(ctx, code, slot, div, data);
}

void notify_text(EngineContext* ctx, int code, int slot, int div, const char* text,
                 std::size_t len) {
  if (ctx->callback == nullptr) return;
  char* copy = copy_text(text, len);
  if (copy == nullptr) return;
  notify(ctx, code, slot, div, copy);
  std::free(copy);
}

void notify_message(EngineContext* ctx, int slot, const std::string& text) {
  if (ctx == nullptr || ctx->callback == nullptr) {
    std::fprintf(stderr, "torvane: %s\n", text.c_str());
    return;
  }
  std::string copy = text;
  notify(ctx, TVN_NOTICE_MESSAGE, slot, 0, copy.data());
}

}  // namespace torvane::engine
