// The slot-table resize: the handshake bits and notice 201, a table that
// grows (and moves) or only changes its limit, and the move made safe while
// the client reserves, fills, starts and stops slots at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"
#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

struct Seen {
  std::uint32_t resize_ctl = 0;
  int slot_count = 0;
};

// Asks for a new limit the way the client does: the limit, then bit 2.
void request_resize(EngineContext& ctx, int max_items) {
  store_release(ctx.max_items, max_items);
  set_bits(ctx.resize_ctl, TVN_RESIZE_REQUEST);
}

class Resize : public testing::Test {
 protected:
  void SetUp() override {
    h_.answer(TVN_NOTICE_RESIZED, [this](EngineContext* ctx, int, int, void*) {
      seen_.push_back({load_acquire(ctx->resize_ctl), load_acquire(ctx->slot_count)});
      return 0;
    });
  }
  bool handshake_cleared() {
    return EngineHarness::wait_until(
        [&] {
          return (load_acquire(h_.ctx().resize_ctl) & (TVN_RESIZE_REQUEST | TVN_RESIZE_DONE)) == 0 &&
                 (load_acquire(h_.ctx().conn_thread_ctl) & (TVN_CTL_STOP | TVN_CTL_STOP_OK)) == 0;
        },
        2s);
  }

  TempDir dir_;
  ScriptedServer server_{[](const HttpRequest&) { return HttpReply::silence(); }};
  // Declared before the harness so that it outlives the engine threads that
  // write it (inside notice 201).
  std::vector<Seen> seen_;
  EngineHarness h_{2};
};

TEST_F(Resize, GrowingMovesTheTableAndOldPointersStayUsable) {
  ItemSpec s;
  s.url = server_.url("/held.bin");
  s.save_path = dir_ / "held.bin";
  s.div_count = 2;
  const int slot = h_.start(s);
  ASSERT_TRUE(server_.wait_for_requests(1, 3s));
  ItemData* old_items = load_acquire(h_.ctx().items);
  ItemData* old_record = &old_items[slot];

  request_resize(h_.ctx(), 5);
  ASSERT_TRUE(h_.wait_notice(TVN_NOTICE_RESIZED, 0, 3s));
  ASSERT_TRUE(handshake_cleared());
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].resize_ctl & (TVN_RESIZE_REQUEST | TVN_RESIZE_DONE),
            std::uint32_t{TVN_RESIZE_REQUEST | TVN_RESIZE_DONE});
  EXPECT_EQ(seen_[0].slot_count, 15) << "grown to the new limit plus 10";
  EXPECT_EQ(h_.slot_count(), 15);

  ItemData* items = load_acquire(h_.ctx().items);
  EXPECT_NE(items, old_items);
  ItemData& moved = items[slot];
  EXPECT_EQ(h_.state(slot), TVN_STATE_PROBING) << "the running item moved with the table";
  EXPECT_EQ(moved.disk.count_ref, &moved.div_count) << "re-pointed into the new table";
  for (int i = 2; i < 15; ++i) {
    EXPECT_EQ(load_acquire(items[i].state), TVN_STATE_EMPTY);
    EXPECT_EQ(load_acquire(items[i].owner), &h_.ctx());
  }
  // A pointer the client took before the move still reads memory that is
  // alive, and a stop through it reaches the live record.
  EXPECT_EQ(load_acquire(old_items[1 - slot].state), TVN_STATE_EMPTY);
  ASSERT_EQ(dl_stop(old_record, -1), 0);
  EXPECT_TRUE(h_.wait_notice(TVN_NOTICE_STOPPED, slot, 3s));
  EXPECT_GE(dl_set(&h_.ctx()), 0);
}

// A record copied into the new table before it was prepared has no arrays
// in the old one: the stop must look at the live record, not the old copy.
TEST_F(Resize, AStopThroughAPointerTakenBeforeTheMoveReachesTheLiveRecord) {
  set_bits(h_.ctx().conn_thread_ctl, TVN_CTL_STOP);  // keep the item in state 2
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] { return (load_acquire(h_.ctx().conn_thread_ctl) & TVN_CTL_STOP_OK) != 0; }, 3s));
  ItemSpec s;
  s.url = server_.url("/early.bin");
  s.save_path = dir_ / "early.bin";
  const int slot = h_.start(s);
  ASSERT_EQ(h_.state(slot), TVN_STATE_STARTED);
  ItemData* early = &h_.item(slot);

  request_resize(h_.ctx(), 5);  // the move also releases the connection thread
  ASSERT_TRUE(h_.wait_notice(TVN_NOTICE_RESIZED, 0, 3s));
  ASSERT_TRUE(server_.wait_for_requests(1, 3s)) << "prepared and probing in the new table";
  EXPECT_EQ(dl_stop(early, -1), 0);
  EXPECT_TRUE(h_.wait_notice(TVN_NOTICE_STOPPED, slot, 3s));
}

TEST_F(Resize, ShrinkingOnlyChangesTheLimit) {
  ItemData* items = load_acquire(h_.ctx().items);
  request_resize(h_.ctx(), 1);
  ASSERT_TRUE(h_.wait_notice(TVN_NOTICE_RESIZED, 0, 3s));
  ASSERT_TRUE(handshake_cleared());
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].resize_ctl & (TVN_RESIZE_REQUEST | TVN_RESIZE_DONE),
            std::uint32_t{TVN_RESIZE_REQUEST | TVN_RESIZE_DONE});
  EXPECT_EQ(h_.slot_count(), 2);
  EXPECT_EQ(load_acquire(h_.ctx().items), items);
  EXPECT_EQ(load_acquire(h_.ctx().max_items), 1);
  EXPECT_EQ(dl_set(&h_.ctx()), 0);
  EXPECT_EQ(dl_set(&h_.ctx()), -1);
  store_release(h_.item(0).state, TVN_STATE_EMPTY);
}

// The client fills a reserved slot through a pointer into the table, so the
// table must not move under it: the resize waits until the slot is started.
TEST_F(Resize, AReservedSlotPostponesTheMove) {
  ItemSpec s;
  s.url = server_.url("/late.bin");
  s.save_path = dir_ / "late.bin";
  const int slot = h_.fill(s);
  ASSERT_GE(slot, 0);
  request_resize(h_.ctx(), 4);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(h_.count(TVN_NOTICE_RESIZED), 0);
  EXPECT_EQ(h_.slot_count(), 2);

  h_.item(slot).retry = 9;  // still the live record
  ASSERT_EQ(dl_start(&h_.ctx(), slot), 0);
  ASSERT_TRUE(h_.wait_notice(TVN_NOTICE_RESIZED, 0, 3s));
  EXPECT_EQ(h_.slot_count(), 14);
  EXPECT_EQ(h_.item(slot).retry, 9);
  EXPECT_TRUE(server_.wait_for_requests(1, 3s)) << "the item runs on in the new table";
}

// Many rounds of growth while another thread reserves, fills, starts and
// stops items and a third reads progress: every write lands in the live
// table and nothing reads freed memory (ASan and TSan watch this test).
TEST_F(Resize, ConcurrentClientWorkSurvivesRepeatedGrowth) {
  std::atomic<bool> done{false};
  std::atomic<int> started{0};
  std::atomic<int> start_failures{0};

  std::atomic<std::uint64_t> reads{0};

  std::thread client([&] {
    // Records are kept by pointer across moves on purpose: a stop through a
    // stale pointer must reach the live record of the same slot.
    std::vector<std::pair<ItemData*, int>> taken;
    int n = 0;
    while (!done.load()) {
      if (taken.size() >= 6) {
        // Stop the oldest. Refused only while it is not prepared yet (asked
        // again next time) or once it has ended.
        const auto [record, index] = taken.front();
        const int live_state = h_.state(index);
        if (dl_stop(record, -1) == 0 || live_state == TVN_STATE_EMPTY) taken.erase(taken.begin());
      } else {
        ItemSpec s;
        s.url = server_.url("/item-" + std::to_string(n));
        s.save_path = dir_ / ("item-" + std::to_string(n++));
        s.div_count = 1 + n % 3;
        const int slot = h_.fill(s);  // -1 while stopped items still count
        if (slot >= 0 && dl_start(&h_.ctx(), slot) == 0) {
          taken.emplace_back(&h_.item(slot), slot);
          started.fetch_add(1);
        } else if (slot >= 0) {
          start_failures.fetch_add(1);
        }
      }
      std::this_thread::yield();
    }
  });
  std::thread reader([&] {
    while (!done.load()) {
      // The count first: the engine publishes a grown table before its
      // count, so a count read first never outruns the table read after it.
      const int count = load_acquire(h_.ctx().slot_count);
      ItemData* items = load_acquire(h_.ctx().items);
      for (int i = 0; i < count && items != nullptr; ++i) (void)load_acquire(items[i].state);
      reads.fetch_add(1);
    }
  });

  int rounds = 0;
  const auto deadline = std::chrono::steady_clock::now() + 1500ms;
  while (std::chrono::steady_clock::now() < deadline) {
    // Past the table's size every time, so that every round moves it.
    request_resize(h_.ctx(), 2 + 11 * ++rounds);
    ASSERT_TRUE(h_.wait_count(TVN_NOTICE_RESIZED, 0, rounds, 3s)) << "round " << rounds;
    ASSERT_TRUE(handshake_cleared());
    // The connection thread is held during each round; let items be
    // prepared (and so become stoppable) in between.
    std::this_thread::sleep_for(20ms);
  }
  done.store(true);
  client.join();
  reader.join();

  EXPECT_EQ(h_.slot_count(), 2 + 11 * rounds + 10);
  EXPECT_EQ(start_failures.load(), 0);
  EXPECT_GT(started.load(), rounds) << "the client kept working between the moves";
  EXPECT_GT(reads.load(), 0u);
  ASSERT_TRUE(h_.stop_all());
  EXPECT_EQ(h_.count(TVN_NOTICE_SLOT_FREE), started.load()) << "every started item ended once";
  for (const Notice& n : h_.notices()) {
    if (n.code == TVN_NOTICE_FAILED) ADD_FAILURE() << "slot " << n.slot << " failed";
  }
}

}  // namespace
}  // namespace torvane::test
