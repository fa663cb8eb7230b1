// One running engine for a test: owns the EngineContext, starts the engine,
// records every notice (with its text, for the notices that carry one),
// answers the notices a test cares about, keeps the
// strings of the items it fills alive, and at the end stops whatever still
// runs and ends the engine, within a deadline.
//
// Notices arrive on the engine's threads; the recording and the waits are
// safe from any thread. Answers run on the thread that raises the notice and
// may call the exports (the engine allows it).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace torvane::test {

// What a client writes into a reserved slot before starting it.
struct ItemSetup {
  std::string url, save_path;
  int div_count = 1;
  int buffer_size = 0;  // 0: the GUI's 40000 bytes a division
  std::uint32_t options = 0;
  std::optional<std::string> proxy{};
};

class EngineHarness {
 public:
  // The answer a test gives to a notice: the callback's result.
  using Answer = std::function<int(EngineContext* ctx, int slot, int div, void* data)>;

  // torvane_init (mode 0) with a pause of 20 ms.
  explicit EngineHarness(int max_items = 4);
  ~EngineHarness() { end(); }

  int init_result() const { return init_result_; }
  EngineContext& ctx() { return ctx_; }
  // The live record of a slot (the array pointer read with acquire).
  ItemData& item(int slot) { return load_acquire(ctx_.items)[slot]; }
  int state(int slot) { return load_acquire(item(slot).state); }
  int slot_count() { return load_acquire(ctx_.slot_count); }

  // Sets the result of every later notice of `code`.
  void answer(int code, Answer answer);
  // dl_set and fill the reserved slot from `wanted` (3 attempts); the slot, or -1.
  int fill(const ItemSetup& wanted);
  // fill and dl_start; the slot, or -1. dl_start's result goes to `start_result`.
  int start(const ItemSetup& wanted, int* start_result = nullptr);
  // Fills every item before starting any, so each has a slot of its own: an
  // item started alone may end before the next is filled, and the next then
  // takes the freed slot, its notices mixed with the first one's. The
  // slots in order, -1 where none was free.
  std::vector<int> start_together(const std::vector<ItemSetup>& items);

  // Notices of `code`, for one slot or (slot -1) for all.
  int count(int code, int slot = -1) const;
  // The texts of the notices of `code` that carry one (the request texts
  // 101 and 103, the answer headers 102 and 104, the messages 401), in order.
  std::vector<std::string> texts(int code, int slot = -1) const;
  bool wait_count(int code, int slot, int n, std::chrono::milliseconds timeout) {
    return wait_until([&] { return count(code, slot) >= n; }, timeout);
  }
  // Waits until the slot is free again and returns its final notice (107,
  // 108 or 109), or 0 at the deadline. For a slot's first item.
  int wait_final(int slot, std::chrono::milliseconds timeout) {
    wait_count(TVN_NOTICE_SLOT_FREE, slot, 1, timeout);
    for (int code : {TVN_NOTICE_FINISHED, TVN_NOTICE_FAILED, TVN_NOTICE_STOPPED})
      if (count(code, slot) > 0) return code;
    return 0;
  }
  // Waits until the slot downloads and its division `div` is done.
  bool wait_division_done(int slot, int div, std::chrono::milliseconds timeout);
  // Polls `done` every few milliseconds; false at the deadline.
  static bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Asks every item in state 2 to 4 to stop and waits until none is left
  // running. False at the deadline.
  bool stop_all(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // stop_all, then torvane_end; its result. Later calls return the first.
  int end();

 private:
  static int on_notice(EngineContext* ctx, int code, int slot, int div, void* data);
  // A zeroed buffer of at least `capacity` bytes holding `text`, owned here.
  char* keep(const std::string& text, std::size_t capacity);

  // The context comes first in a standard-layout pair, so the callback,
  // which receives only the context, finds its harness.
  struct Box {
    EngineContext ctx;
    EngineHarness* owner;
  } box_{{}, this};
  EngineContext& ctx_ = box_.ctx;
  int init_result_ = 0;
  std::optional<int> end_result_;

  mutable std::mutex mutex_;
  struct Notice {
    int code, slot;
    std::string text;
  };
  std::vector<Notice> notices_;
  std::map<int, Answer> answers_;
  std::deque<std::unique_ptr<char[]>> strings_;
};

}  // namespace torvane::test
