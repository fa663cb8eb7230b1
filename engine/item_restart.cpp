#include "engine/item_restart.h"

#include <string>

#include "engine/http_message.h"
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
    platform::socket_close(item.conn.sockets[i]);
    store_release(item.div_status[i], TVN_DIV_FAILED);
  }
}

void restart_item(EngineState& engine, int slot, ItemData& item, std::uint32_t new_size,
                  std::string_view validator, std::string_view reason) {
  SlotAnswers& answers = engine.answers(slot);
  if (answers.restarts >= kMaxRestarts) {
    fail_all_divisions(engine, item, slot);
    notify_message(
        engine.ctx, slot,
        std::string(reason) + ". It has changed too often while downloading; the download fails");
    return;
  }
  ++answers.restarts;
  {
    const ConnExclusion keep_out(engine, slot);
    const int n = item.div_count;
    for (int i = 0; i < n; ++i) {
      platform::socket_close(item.conn.sockets[i]);
      store_relaxed(item.disk.buf_fill[i], 0);
      store_relaxed(item.disk.range_done[i], 0u);
      store_relaxed(item.div_retries[i], item.retry);
    }
    store_relaxed(item.disk.file_size, new_size);
    if (new_size == 0) {
      // Without a size there are no ranges to share out.
      store_release(item.div_count, 1);
      set_bits(item.run_flags, TVN_RUN_SINGLE_CONNECTION);
    }
    compute_item_ranges(item);
    for (int i = 0; i < n; ++i)
      store_release(item.div_status[i], i < item.div_count ? TVN_DIV_IDLE : TVN_DIV_FAILED);
    answers.validator.assign(validator);
    answers.validator_set = true;
    answers.chunked = false;
  }
  notify_message(engine.ctx, slot,
                 std::string(reason) + "; the download starts over from the beginning");
  engine.conn_wake.signal();
}

}  // namespace torvane::engine
