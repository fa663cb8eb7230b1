// One running engine for a test: owns the EngineContext, starts the engine,
// records every notice the engine raises, answers the notices a test cares
// about, keeps the client-owned strings of the items it fills alive, and at
// the end stops whatever still runs and ends the engine, within a deadline.
//
// Thread rules: notices arrive on the engine's threads; the recording and
// the waits are safe from any thread. Answers run on the thread that raises
// the notice and may call the exports (the engine allows it).
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
#include <vector>

#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace torvane::test {

struct Notice {
  int code = 0, slot = 0;
  std::string text;  // 101-104 and 401: the text the engine passed
};

// What a client writes into a reserved slot before starting it.
struct ItemSetup {
  std::string url, save_path;
  int div_count = 1;
  int retry = 3;
  int buffer_size = 40000;
  std::uint32_t options = 0;
  std::optional<std::string> user_agent, extra_header, proxy;
};

class EngineHarness {
 public:
  // The answer a test gives to a notice: the callback's result.
  using Answer = std::function<int(EngineContext* ctx, int slot, int div, void* data)>;

  // Starts the engine (torvane_init, mode 0). `with_callback` false leaves
  // the context's callback null.
  explicit EngineHarness(int max_items = 4, int wait_ms = 20, bool with_callback = true);
  ~EngineHarness() { end(); }

  int init_result() const { return init_result_; }
  EngineContext& ctx() { return ctx_; }
  // The live record of a slot (the array pointer read with acquire).
  ItemData& item(int slot) { return load_acquire(ctx_.items)[slot]; }
  int state(int slot) { return load_acquire(item(slot).state); }
  int slot_count() { return load_acquire(ctx_.slot_count); }

  // Sets the result of every later notice of `code`.
  void answer(int code, Answer answer);

  // dl_set and fill the reserved slot from `wanted`; the slot, or -1.
  int fill(const ItemSetup& wanted);
  // fill and dl_start; the slot, or -1 when no slot was free. The result of
  // dl_start goes to `start_result` when given.
  int start(const ItemSetup& wanted, int* start_result = nullptr);

  // A C string owned by the harness until it is destroyed; the buffer holds
  // at least `capacity` bytes (URLs get TVN_URL_CAPACITY: a redirect
  // rewrites them in place).
  char* keep(const std::string& text, std::size_t capacity = 0);

  std::vector<Notice> notices() const;
  // Notices of `code`, for one slot or (slot -1) for all.
  int count(int code, int slot = -1) const;
  // Waits until `count(code, slot)` reaches n; false at the deadline.
  bool wait_count(int code, int slot, int n, std::chrono::milliseconds timeout) {
    return wait_until([&] { return count(code, slot) >= n; }, timeout);
  }
  bool wait_notice(int code, int slot, std::chrono::milliseconds timeout) {
    return wait_count(code, slot, 1, timeout);
  }
  // Waits until the slot is free again and returns the final notice it
  // had (107, 108 or 109), or 0 at the deadline. For a slot's first item.
  int wait_final(int slot, std::chrono::milliseconds timeout) {
    wait_notice(TVN_NOTICE_SLOT_FREE, slot, timeout);
    for (int code : {TVN_NOTICE_FINISHED, TVN_NOTICE_FAILED, TVN_NOTICE_STOPPED})
      if (count(code, slot) > 0) return code;
    return 0;
  }
  // Polls `done` every few milliseconds; false at the deadline.
  static bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Asks every item in state 2 to 4 to stop and waits until none is left
  // running. False at the deadline.
  bool stop_all(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // stop_all, then torvane_end; its result. Later calls return the first.
  int end();

 private:
  static int on_notice(EngineContext* ctx, int code, int slot, int div, void* data);

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
  std::vector<Notice> notices_;
  std::map<int, Answer> answers_;
  std::deque<std::unique_ptr<char[]>> strings_;
};

}  // namespace torvane::test
