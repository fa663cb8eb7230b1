#include "engine/item_restart.h"

#include <string>

#include "engine/http_message.h"
#include "engine/item_state.h"
#include "engine/response_handler.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {

std::string_view item_validator(const SlotAnswers& answers, const ItemData& item) {
  if (answers.validator_set) return answers.validator;
  std::string_view client;
  return find_if_range(item.extra_header, client) ? client : std::string_view{};
}

void hold_validator(EngineState& engine, int slot, std::string_view validator) {
  SlotAnswers& answers = engine.answers(slot);
  const ConnExclusion keep_out(engine, slot);  // it reads the validator while it sends
  answers.validator.assign(validator);
  answers.validator_set = true;
}

void fail_all_divisions(EngineState& engine, ItemData& item, int slot) {
  const ConnExclusion keep_out(engine, slot);
  for (int i = 0; i < item.div_count; ++i) {
    close_connection(item.conn.sockets[i]);
    set_division_status(item, i, TVN_DIV_FAILED);
  }
}

namespace {

// False, after failing the item with `reason`, when it has started over too
// often already.
bool may_start_over(EngineState& engine, int slot, ItemData& item, std::string_view reason) {
  SlotAnswers& answers = engine.answers(slot);
  if (answers.restarts >= kMaxRestarts) {
    fail_all_divisions(engine, item, slot);
    notify_message(
        engine.ctx, slot,
        std::string(reason) + ". It has changed too often while downloading; the download fails");
    return false;
  }
  ++answers.restarts;
  return true;
}

// Every division back to byte 0 of a file of `size` bytes, over one division
// when `one`. The caller keeps the connection thread out.
void reset_divisions(const ItemSizes& sizes, std::uint64_t size, bool one) {
  ItemData& item = sizes.item();
  const int n = item.div_count;
  for (int i = 0; i < n; ++i) {
    close_connection(item.conn.sockets[i]);
    store_relaxed(item.disk.buf_fill[i], 0);
    sizes.set_done(i, 0);
    store_relaxed(item.div_retries[i], item.retry);
  }
  sizes.set_file_size(size);
  if (one) {
    store_release(item.div_count, 1);
    set_bits(item.run_flags, TVN_RUN_SINGLE_CONNECTION);
  }
  compute_item_ranges(sizes);
  for (int i = 0; i < n; ++i)
    set_division_status(item, i, i < item.div_count ? TVN_DIV_IDLE : TVN_DIV_FAILED);
}

}  // namespace

void restart_item(EngineState& engine, int slot, ItemData& item, std::uint64_t new_size,
                  std::string_view validator, std::string_view reason) {
  if (!may_start_over(engine, slot, item, reason)) return;
  SlotAnswers& answers = engine.answers(slot);
  {
    const ConnExclusion keep_out(engine, slot);
    // Without a size there are no ranges to share out.
    reset_divisions(engine.sizes(slot, item), new_size, new_size == 0);
    answers.validator.assign(validator);
    answers.validator_set = true;
    answers.chunked = false;
  }
  notify_message(engine.ctx, slot,
                 std::string(reason) + "; the download starts over from the beginning");
  engine.conn_wake.signal();
}

void reprobe_item(EngineState& engine, int slot, ItemData& item, std::string_view reason) {
  SlotAnswers& answers = engine.answers(slot);
  const std::uint64_t size = engine.sizes(slot, item).file_size();
  if (answers.reprobed || !may_start_over(engine, slot, item, reason)) return;
  answers.reprobed = true;
  answers.reprobe_size = size;
  {
    const ConnExclusion keep_out(engine, slot);
    reset_divisions(engine.sizes(slot, item), 0, false);
    answers.chunked = false;
    // Division 0 asks from byte 0 alone, as SpeedMode's size probe does;
    // the others wait for its answer's size.
    clear_bits(item.run_flags, TVN_RUN_PROBE_SENT | TVN_RUN_PROBE_DONE);
    set_bits(item.run_flags, TVN_RUN_PROBE_PENDING);
  }
  engine.conn_wake.signal();
}

}  // namespace torvane::engine
