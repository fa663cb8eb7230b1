// The life of a slot seen through the exports, the way the client drives
// it: engine start and end, slot hand-out, start, stop, resume, and the
// slot-table resize with the client working on slots at the same time.
// Real engine threads, loopback servers only.
#include <gtest/gtest.h>

#include <algorithm>
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

extern "C" std::size_t torvane_c_record_sizes(void);
extern "C" int torvane_c_init_mode_one(void);

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

EngineContext* const kStaleOwner = reinterpret_cast<EngineContext*>(alignof(EngineContext) * 3);
constexpr std::uint32_t kResizeBits = TVN_RESIZE_REQUEST | TVN_RESIZE_DONE;

TEST(EngineLife, InitAndEndAsTheClientSeesThem) {
  EXPECT_EQ(torvane_c_record_sizes(),
            sizeof(EngineContext) + sizeof(ItemData) + sizeof(ConnInfo) + sizeof(DiskIO));
  EXPECT_EQ(torvane_c_init_mode_one(), 1);
  EXPECT_EQ(torvane_init(nullptr, 0), 2);
  EngineContext never{};
  EXPECT_EQ(torvane_end(&never), 0) << "nothing was started";

  EngineHarness h(3);
  ASSERT_EQ(h.init_result(), 1);
  EngineContext& ctx = h.ctx();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(load_acquire(h.item(i).owner), &ctx);
  EXPECT_EQ(h.end(), 1);
  EXPECT_EQ(ctx.items, nullptr);
  for (std::uint32_t ctl : {ctx.dl_thread_ctl, ctx.conn_thread_ctl})
    EXPECT_EQ(ctl & (TVN_CTL_END | TVN_CTL_END_OK | TVN_CTL_END_FAIL),
              std::uint32_t{TVN_CTL_END | TVN_CTL_END_OK});
}

TEST(SlotHandOut, CountsOccupiedSlotsAgainstMaxItems) {
  EngineHarness h(3);
  store_release(h.item(0).owner, kStaleOwner);
  EXPECT_EQ(dl_set(&h.ctx()), 0);
  EXPECT_EQ(load_acquire(h.item(0).owner), &h.ctx()) << "a slot in use belongs to this engine";
  EXPECT_EQ(dl_set(&h.ctx()), 1);
  EXPECT_EQ(dl_set(&h.ctx()), 2);
  EXPECT_EQ(dl_set(&h.ctx()), -1);
  store_release(h.item(1).state, TVN_STATE_FREE);
  EXPECT_EQ(dl_set(&h.ctx()), 1) << "state 5 is free as well";
  // Fewer allowed than the table holds: the count decides, not the room.
  store_release(h.ctx().max_items, 2);
  store_release(h.item(0).state, TVN_STATE_EMPTY);
  EXPECT_EQ(dl_set(&h.ctx()), -1);
  store_release(h.item(2).state, TVN_STATE_FAILED);  // a failed slot stays occupied
  EXPECT_EQ(dl_set(&h.ctx()), -1);
  store_release(h.item(2).state, TVN_STATE_EMPTY);
  EXPECT_EQ(dl_set(&h.ctx()), 0);
  for (int i = 0; i < 3; ++i) store_release(h.item(i).state, TVN_STATE_EMPTY);
}

TEST(StopRequests, MarkUnfinishedDivisionsAndTheWholeItem) {
  struct Case {
    std::vector<std::int32_t> status;
    int div, result;
    std::vector<std::int32_t> stop;  // div_count + 1 elements after the call
  } cases[] = {
      {{2, 2, 2}, -1, 0, {0, 0, 0, 1}},  {{2, 3, 150}, -1, 0, {0, 1, 1, 1}},
      {{2, 150, 0}, 0, 0, {0, 0, 0, 0}}, {{2, 150, 0}, 1, 0, {0, 1, 0, 0}},
      {{0, 0, 0}, 3, -1, {0, 0, 0, 0}},  {{0, 0, 0}, -2, -1, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::vector<std::int32_t> status = c.status, stop(c.status.size() + 1, 0);
    ItemData item{};
    item.div_count = static_cast<std::int32_t>(status.size());
    item.div_status = status.data();
    item.div_stop = stop.data();
    EXPECT_EQ(dl_stop(&item, c.div), c.result);
    EXPECT_EQ(stop, c.stop);
  }
  ItemData bare{};
  bare.div_count = 2;
  EXPECT_EQ(dl_stop(&bare, -1), -1) << "a record without arrays";
}

// An engine with three slots and a server that never answers.
template <int WaitMs>
class EngineTest : public testing::Test {
 protected:
  ItemSetup wanted(const std::string& name, int divisions = 1) {
    ItemSetup s;
    s.url = server_.url("/" + name);
    s.save_path = dir_ / name;
    s.div_count = divisions;
    return s;
  }
  int start(const std::string& name, int divisions = 1, int* result = nullptr) {
    return h_.start(wanted(name, divisions), result);
  }

  TempDir dir_;
  ScriptedServer server_{[](const HttpRequest&) { return HttpReply::silence(); }};
  std::vector<std::uint32_t> bits_;  // outlives the engine threads that write it
  EngineHarness h_{3, WaitMs};
};

// A pause of 5 s, longer than any wait below: those waits end in time only
// because each export wakes the engine threads.
using Slots = EngineTest<5000>;

TEST_F(Slots, StartOpensTheOutputFileBeforeHandingTheItemOver) {
  const int slot = h_.fill(wanted("a.bin"));
  store_release(h_.item(slot).owner, kStaleOwner);  // as a restored record would carry
  ASSERT_EQ(dl_start(&h_.ctx(), slot), 0);
  EXPECT_EQ(load_acquire(h_.item(slot).owner), &h_.ctx());
  EXPECT_TRUE(path_exists(dir_ / "a.bin")) << "opened (and created) on the caller's thread";
  EXPECT_EQ(h_.notices().at(0).code, TVN_NOTICE_OPEN_FILE);
  EXPECT_EQ(dl_start(&h_.ctx(), slot), -1) << "only a reserved slot starts";
  EXPECT_EQ(dl_start(&h_.ctx(), 3), -1);
}

// dl_resume is refused while reserved (1) or probing (3) and on a slot
// without arrays. On a record the client restored with copy_itemdata (state
// 0, an owner from an earlier run, ranges of 1000 bytes) the finished
// division stays; failed, sent but never answered, and receiving ones are
// asked again from their current position.
TEST_F(Slots, ResumeRefusalsAndResets) {
  const int reserved = dl_set(&h_.ctx());
  EXPECT_EQ(dl_resume(&h_.ctx(), reserved, -1), -1);
  EXPECT_EQ(dl_resume(&h_.ctx(), reserved + 1, -1), -1) << "an empty slot without arrays";
  const int probing = start("p.bin");
  ASSERT_TRUE(
      EngineHarness::wait_until([&] { return h_.state(probing) == TVN_STATE_PROBING; }, 3s));
  EXPECT_EQ(dl_resume(&h_.ctx(), probing, -1), -1);
  EXPECT_EQ(dl_resume(&h_.ctx(), 3, -1), -1);

  std::vector<std::int32_t> status{2, 3, 1, 150}, retries(4, 1), stop(5, 0), sockets(4, -1),
      fill(4);
  std::vector<std::uint32_t> len(4, 1000), done{1000, 200, 0, 500};
  ItemData saved{};
  saved.data_type = TVN_DATA_HTTP;
  saved.div_count = 4;
  saved.buffer_size = 160000;
  saved.div_status = status.data();
  saved.div_retries = retries.data();
  saved.div_stop = stop.data();
  saved.conn.sockets = sockets.data();
  saved.disk = {0, nullptr, 4000, len.data(), done.data(), nullptr, fill.data(), nullptr, nullptr};
  saved.owner = kStaleOwner;
  ItemData& it = *copy_itemdata(&h_.item(reserved), &saved);
  it.url = h_.keep(server_.url("/f.bin"), TVN_URL_CAPACITY);  // the client's own buffers
  it.save_path = h_.keep(dir_ / "f.bin");
  store_release(it.state, TVN_STATE_EMPTY);
  ASSERT_EQ(dl_resume(&h_.ctx(), reserved, -1), 0);
  EXPECT_EQ(load_acquire(it.owner), &h_.ctx());
  EXPECT_EQ(h_.count(TVN_NOTICE_OPEN_FILE, reserved), 1);
  EXPECT_EQ(dl_resume(&h_.ctx(), reserved, 4), -1) << "no division 4";
  ASSERT_TRUE(server_.wait_for_requests(4, 3s));
  std::this_thread::sleep_for(150ms);  // time enough for a wrong further request
  std::vector<std::int64_t> starts;    // -1: no range (a HEAD too)
  for (const HttpRequest& r : server_.requests())
    if (r.target == "/f.bin") starts.push_back(r.range_start());
  std::sort(starts.begin(), starts.end());
  EXPECT_EQ(starts, (std::vector<std::int64_t>{1200, 2000, 3500}));
}

// The resize: the client sets the limit, then bit 2; the engine answers
// with notice 201 (both bits set during it) and clears the handshake.
class Resize : public EngineTest<20> {
 protected:
  void SetUp() override {
    h_.answer(TVN_NOTICE_RESIZED, [this](EngineContext* ctx, int, int, void*) {
      bits_.push_back(load_acquire(ctx->resize_ctl) & kResizeBits);
      return 0;
    });
  }
  bool resize(int max_items) {
    const int before = h_.count(TVN_NOTICE_RESIZED);
    store_release(h_.ctx().max_items, max_items);
    set_bits(h_.ctx().resize_ctl, TVN_RESIZE_REQUEST);
    const auto cleared = [&] { return (load_acquire(h_.ctx().resize_ctl) & kResizeBits) == 0; };
    return h_.wait_count(TVN_NOTICE_RESIZED, 0, before + 1, 3s) &&
           EngineHarness::wait_until(cleared, 2s);
  }
};

// One item probing and one held in state 2 (the connection thread stopped),
// whose record in the old table predates its arrays: a stop through a
// pointer taken before the move reaches the live record either way.
TEST_F(Resize, GrowingMovesTheTableShrinkingOnlyChangesTheLimit) {
  const int probing = start("probing.bin", 2);
  ASSERT_TRUE(server_.wait_for_requests(1, 3s));
  set_bits(h_.ctx().conn_thread_ctl, TVN_CTL_STOP);
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] { return (load_acquire(h_.ctx().conn_thread_ctl) & TVN_CTL_STOP_OK) != 0; }, 3s));
  const int early = start("early.bin");
  ASSERT_EQ(h_.state(early), TVN_STATE_STARTED);
  EXPECT_EQ(dl_resume(&h_.ctx(), early, -1), -1) << "no resume in state 2";
  ItemData* old_items = load_acquire(h_.ctx().items);

  ASSERT_TRUE(resize(5));  // the move also releases the connection thread
  EXPECT_EQ(h_.slot_count(), 15) << "grown to the new limit plus 10";
  ItemData* items = load_acquire(h_.ctx().items);
  EXPECT_NE(items, old_items);
  EXPECT_EQ(h_.state(probing), TVN_STATE_PROBING) << "the running item moved with the table";
  EXPECT_EQ(items[probing].disk.count_ref, &items[probing].div_count) << "re-pointed";
  ASSERT_TRUE(server_.wait_for_requests(2, 3s)) << "the early item prepared in the new table";
  for (int slot : {probing, early}) {
    EXPECT_EQ(dl_stop(&old_items[slot], -1), 0);
    EXPECT_TRUE(h_.wait_notice(TVN_NOTICE_SLOT_FREE, slot, 3s));
  }

  ASSERT_TRUE(resize(1));
  EXPECT_EQ(bits_, std::vector<std::uint32_t>(2, kResizeBits));
  EXPECT_EQ(h_.slot_count(), 15);
  EXPECT_EQ(load_acquire(h_.ctx().items), items);
  EXPECT_EQ(dl_set(&h_.ctx()), 0);
  EXPECT_EQ(dl_set(&h_.ctx()), -1);
  store_release(h_.item(0).state, TVN_STATE_EMPTY);
}

// Many rounds of growth while another thread reserves, fills, starts and
// stops items, keeping pointers across moves on purpose: every write lands
// in the live table and nothing reads freed memory (ASan and TSan watch).
TEST_F(Resize, ConcurrentClientWorkSurvivesRepeatedGrowth) {
  std::atomic<bool> done{false};
  std::atomic<int> started{0};
  std::thread client([&] {
    std::vector<std::pair<ItemData*, int>> taken;
    for (int n = 0; !done.load(); ++n, std::this_thread::yield()) {
      int result = 0;
      if (taken.size() >= 6) {
        // Refused only while not prepared yet (asked again) or once ended.
        const auto [record, slot] = taken.front();
        const int live_state = h_.state(slot);
        if (dl_stop(record, -1) == 0 || live_state == TVN_STATE_EMPTY) taken.erase(taken.begin());
      } else if (const int slot = start("item-" + std::to_string(n), 1 + n % 3, &result);
                 slot >= 0) {  // -1 while stopped items still count
        if (result == 0) taken.emplace_back(&h_.item(slot), slot), started.fetch_add(1);
      }
    }
  });
  int rounds = 0;
  bool ok = true;
  for (const auto end = std::chrono::steady_clock::now() + 1500ms;
       ok && std::chrono::steady_clock::now() < end;) {
    ok = resize(3 + 11 * ++rounds);     // past the table's size: every round moves it
    std::this_thread::sleep_for(20ms);  // let items be prepared (and so become stoppable)
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
