// A slot's life through the exports, as a C or C++ client drives it: engine
// start and end, hand-out, start, stop, resume, and the table's growth while
// the client works on slots. Real engine threads, a loopback server only.
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

extern "C" std::size_t torvane_c_record_sizes(void);
extern "C" int torvane_c_init_mode_one(void);

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

EngineContext* const kStaleOwner = reinterpret_cast<EngineContext*>(alignof(EngineContext) * 3);
constexpr std::uint32_t kResizeBits = TVN_RESIZE_REQUEST | TVN_RESIZE_DONE;

TEST(EngineLife, InitHandOutAndEnd) {
  EXPECT_EQ(torvane_c_record_sizes(),
            sizeof(EngineContext) + sizeof(ItemData) + sizeof(ConnInfo) + sizeof(DiskIO));
  EXPECT_EQ(torvane_c_init_mode_one(), 1);
  EXPECT_EQ(torvane_init(nullptr, 0), 2);

  EngineHarness h(3);
  ASSERT_EQ(h.init_result(), 1);
  EngineContext& ctx = h.ctx();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(load_acquire(h.item(i).owner), &ctx);
  store_release(h.item(0).owner, kStaleOwner);
  for (int slot : {0, 1, 2, -1}) EXPECT_EQ(dl_set(&ctx), slot);
  EXPECT_EQ(load_acquire(h.item(0).owner), &ctx) << "a slot in use belongs to this engine";
  store_release(h.item(1).state, TVN_STATE_FREE);
  EXPECT_EQ(dl_set(&ctx), 1) << "state 5 is free as well";
  // Fewer allowed than the table holds: the count decides; a failed slot counts.
  store_release(ctx.max_items, 2);
  store_release(h.item(0).state, TVN_STATE_EMPTY);
  store_release(h.item(2).state, TVN_STATE_FAILED);
  EXPECT_EQ(dl_set(&ctx), -1);
  store_release(h.item(2).state, TVN_STATE_EMPTY);
  EXPECT_EQ(dl_set(&ctx), 0);

  EXPECT_EQ(h.end(), 1);
  EXPECT_EQ(ctx.items, nullptr);
}

// Three divisions, the first finished; an empty expectation: refused.
TEST(StopRequests, MarkUnfinishedDivisionsAndTheWholeItem) {
  const std::pair<int, std::vector<std::int32_t>> cases[] = {
      {-1, {0, 1, 1, 1}}, {0, {0, 0, 0, 0}}, {1, {0, 1, 0, 0}}, {3, {}}};
  for (const auto& [div, expected] : cases) {
    std::int32_t status[] = {2, 3, 150};
    std::vector<std::int32_t> stop(4, 0);
    ItemData item{};
    item.div_count = 3;
    item.div_status = status;
    item.div_stop = stop.data();
    EXPECT_EQ(dl_stop(&item, div), expected.empty() ? -1 : 0) << div;
    EXPECT_EQ(stop, expected.empty() ? std::vector<std::int32_t>(4, 0) : expected) << div;
  }
}

// An engine with three slots and a server that never answers. The resize:
// the client sets the limit, then bit 2; the engine answers with notice 201
// (both bits set during it) and clears the handshake.
class Resize : public testing::Test {
 protected:
  void SetUp() override {
    h_.answer(TVN_NOTICE_RESIZED, [this](EngineContext* ctx, int, int, void*) {
      bits_.push_back(load_acquire(ctx->resize_ctl) & kResizeBits);
      return 0;
    });
  }
  ItemSetup wanted(const std::string& name, int divisions = 1) {
    return {.url = server_.url("/" + name), .save_path = dir_ / name, .div_count = divisions};
  }
  bool resize(int max_items) {
    const int before = h_.count(TVN_NOTICE_RESIZED);
    store_release(h_.ctx().max_items, max_items);
    set_bits(h_.ctx().resize_ctl, TVN_RESIZE_REQUEST);
    const auto cleared = [&] { return (load_acquire(h_.ctx().resize_ctl) & kResizeBits) == 0; };
    return h_.wait_count(TVN_NOTICE_RESIZED, 0, before + 1, 3s) &&
           EngineHarness::wait_until(cleared, 2s);
  }

  TempDir dir_;
  ScriptedServer server_{[](const HttpRequest&) { return HttpReply::silence(); }};
  std::vector<std::uint32_t> bits_;  // outlives the engine threads that write it
  EngineHarness h_{3};
};

// A stop through a record pointer taken before the move reaches the live record.
TEST_F(Resize, GrowingMovesTheTableShrinkingOnlyChangesTheLimit) {
  const int probing = h_.fill(wanted("probing.bin", 2));
  store_release(h_.item(probing).owner, kStaleOwner);  // as a restored record would carry
  ASSERT_EQ(dl_start(&h_.ctx(), probing), 0);
  EXPECT_EQ(load_acquire(h_.item(probing).owner), &h_.ctx());
  EXPECT_TRUE(path_exists(dir_ / "probing.bin")) << "opened on the caller's thread";
  EXPECT_EQ(dl_start(&h_.ctx(), probing), -1) << "only a reserved slot starts";
  ASSERT_TRUE(server_.wait_for_requests(1, 3s));
  EXPECT_EQ(dl_resume(&h_.ctx(), probing, -1), -1) << "no resume while probing";
  set_bits(h_.ctx().conn_thread_ctl, TVN_CTL_STOP);
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] { return (load_acquire(h_.ctx().conn_thread_ctl) & TVN_CTL_STOP_OK) != 0; }, 3s));
  const int early = h_.start(wanted("early.bin"));
  ASSERT_EQ(h_.state(early), TVN_STATE_STARTED);
  ItemData* old_items = load_acquire(h_.ctx().items);

  ASSERT_TRUE(resize(5));  // the move also releases the connection thread
  EXPECT_EQ(h_.slot_count(), 15) << "the new limit plus 10";
  ItemData* items = load_acquire(h_.ctx().items);
  EXPECT_EQ(h_.state(probing), TVN_STATE_PROBING) << "the running item moved with the table";
  EXPECT_EQ(items[probing].disk.count_ref, &items[probing].div_count) << "re-pointed";
  ASSERT_TRUE(server_.wait_for_requests(2, 3s)) << "the early item prepared in the new table";
  for (int slot : {probing, early}) {
    EXPECT_EQ(dl_stop(&old_items[slot], -1), 0);
    EXPECT_TRUE(h_.wait_count(TVN_NOTICE_SLOT_FREE, slot, 1, 3s));
  }

  ASSERT_TRUE(resize(1));
  EXPECT_EQ(bits_, std::vector<std::uint32_t>(2, kResizeBits));
  EXPECT_EQ(h_.slot_count(), 15);
  EXPECT_EQ(load_acquire(h_.ctx().items), items);
  EXPECT_EQ(dl_set(&h_.ctx()), 0);
  EXPECT_EQ(dl_set(&h_.ctx()), -1);
  store_release(h_.item(0).state, TVN_STATE_EMPTY);
}

// Pointers kept across moves on purpose: ASan and TSan watch every access.
TEST_F(Resize, ConcurrentClientWorkSurvivesRepeatedGrowth) {
  std::atomic<bool> done{false};
  std::atomic<int> started{0};
  std::thread client([&] {
    std::vector<std::pair<ItemData*, int>> taken;
    for (int n = 0; !done.load(); ++n, std::this_thread::yield()) {
      int result = 0;
      if (taken.size() >= 6) {
        const auto [record, slot] = taken.front();
        const int live_state = h_.state(slot);
        if (dl_stop(record, -1) == 0 || live_state == TVN_STATE_EMPTY) taken.erase(taken.begin());
      } else if (const int slot = h_.start(wanted("item-" + std::to_string(n), 1 + n % 3), &result);
                 slot >= 0 && result == 0) {  // no slot while stopped items still count
        taken.emplace_back(&h_.item(slot), slot), started.fetch_add(1);
      }
    }
  });
  int rounds = 0;
  bool ok = true;
  for (const auto end = std::chrono::steady_clock::now() + 1500ms;
       ok && std::chrono::steady_clock::now() < end;) {
    ok = resize(3 + 11 * ++rounds);     // past the table's size: every round moves it
    std::this_thread::sleep_for(20ms);  // let items be prepared
  }
  done.store(true);
  client.join();
  ASSERT_TRUE(ok) << "round " << rounds;
  EXPECT_EQ(h_.slot_count(), 3 + 11 * rounds + 10);
  EXPECT_GT(started.load(), rounds) << "the client kept working between the moves";
  ASSERT_TRUE(h_.stop_all());
  EXPECT_EQ(h_.count(TVN_NOTICE_SLOT_FREE), started.load()) << "every started item ended once";
  EXPECT_EQ(h_.count(TVN_NOTICE_FAILED), 0) << "a start failed";
}

}  // namespace
}  // namespace torvane::test
