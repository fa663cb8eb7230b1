// The life of a slot seen through the exports, the way the client drives
// it: engine start and end, slot hand-out, starting with the output file
// opened first, failures at preparation, stop requests, and the pause that
// an export cuts short. Real engine threads, loopback servers only.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"
#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

EngineContext* const kStaleOwner = reinterpret_cast<EngineContext*>(alignof(EngineContext) * 3);

std::vector<int> codes_for(const EngineHarness& h, int slot) {
  std::vector<int> codes;
  for (const Notice& n : h.notices())
    if (n.slot == slot && n.code != TVN_NOTICE_DATA) codes.push_back(n.code);
  return codes;
}

TEST(EngineLife, InitAndEndAsTheClientSeesThem) {
  EXPECT_EQ(torvane_init(nullptr, 0), 2);
  EngineContext never{};
  EXPECT_EQ(torvane_end(&never), 0) << "nothing was started";

  EngineHarness h(3);
  ASSERT_EQ(h.init_result(), 1);
  EngineContext& ctx = h.ctx();
  EXPECT_EQ(load_acquire(ctx.slot_count), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(h.state(i), TVN_STATE_EMPTY);
    EXPECT_EQ(load_acquire(h.item(i).owner), &ctx);
  }
  ASSERT_TRUE(EngineHarness::wait_until([&] { return load_acquire(ctx.dl_thread_id) != 0; }, 2s));
  ASSERT_TRUE(EngineHarness::wait_until([&] { return load_acquire(ctx.conn_thread_id) != 0; }, 2s));
  EXPECT_NE(ctx.dl_thread_id, ctx.conn_thread_id);

  EXPECT_EQ(h.end(), 1);
  EXPECT_EQ(ctx.items, nullptr);
  for (std::uint32_t ctl : {ctx.dl_thread_ctl, ctx.conn_thread_ctl}) {
    EXPECT_TRUE(ctl & TVN_CTL_END);
    EXPECT_TRUE(ctl & TVN_CTL_END_OK);
    EXPECT_FALSE(ctl & TVN_CTL_END_FAIL);
  }
}

TEST(SlotHandOut, CountsOccupiedSlotsAgainstMaxItems) {
  EngineHarness h(3);
  ASSERT_EQ(h.init_result(), 1);
  h.item(0).retry = 7;  // what a slot holds is left alone by dl_set
  store_release(h.item(0).owner, kStaleOwner);
  EXPECT_EQ(dl_set(&h.ctx()), 0);
  EXPECT_EQ(h.item(0).retry, 7);
  EXPECT_EQ(load_acquire(h.item(0).owner), &h.ctx()) << "a slot taken into use belongs to this engine";
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

TEST(SlotHandOut, NoSlotsWithoutAnEngine) {
  EngineContext ctx{};
  ctx.max_items = 2;
  EXPECT_EQ(dl_set(&ctx), -1);
  EXPECT_EQ(dl_start(&ctx, 0), -1);
  EXPECT_EQ(dl_resume(&ctx, 0, -1), -1);
  EXPECT_EQ(dl_reconnect(&ctx, 0, -1, 0), -1);
  EngineHarness none(0);
  ASSERT_EQ(none.init_result(), 1);
  EXPECT_EQ(dl_set(&none.ctx()), -1) << "a limit of 0 hands out nothing";
}

TEST(StopRequests, MarkUnfinishedDivisionsAndTheWholeItem) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> status;
    int div;
    int result;
    std::vector<std::int32_t> stop;  // div_count + 1 elements after the call
  } cases[] = {
      {"all finished", {2, 2, 2}, -1, 0, {0, 0, 0, 1}},
      {"mixed", {2, 3, 150}, -1, 0, {0, 1, 1, 1}},
      {"one finished division", {2, 150, 0}, 0, 0, {0, 0, 0, 0}},
      {"one receiving division", {2, 150, 0}, 1, 0, {0, 1, 0, 0}},
      {"past the last division", {0, 0, 0}, 3, -1, {0, 0, 0, 0}},
      {"below -1", {0, 0, 0}, -2, -1, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::int32_t> status = c.status, stop(c.status.size() + 1, 0);
    ItemData item{};
    item.state = TVN_STATE_DOWNLOADING;
    item.div_count = static_cast<std::int32_t>(status.size());
    item.div_status = status.data();
    item.div_stop = stop.data();
    EXPECT_EQ(dl_stop(&item, c.div), c.result);
    EXPECT_EQ(stop, c.stop);
    EXPECT_EQ(status, c.status);
  }
  ItemData bare{};
  bare.state = TVN_STATE_DOWNLOADING;
  bare.div_count = 2;
  EXPECT_EQ(dl_stop(&bare, -1), -1);
  EXPECT_EQ(bare.state, TVN_STATE_DOWNLOADING);
  EXPECT_EQ(dl_stop(nullptr, -1), -1);
}

class SlotStart : public testing::Test {
 protected:
  ItemSpec item_to(const std::string& name) {
    ItemSpec s;
    s.url = server_.url("/" + name);
    s.save_path = dir_.path() + "/";
    return s;
  }

  TempDir dir_;
  ScriptedServer server_{[](const HttpRequest&) { return HttpReply::silence(); }};
  EngineHarness h_{2};
};

TEST_F(SlotStart, OpensTheOutputFileBeforeHandingTheItemOver) {
  const int slot = h_.fill(item_to("a.bin"));
  ASSERT_GE(slot, 0);
  store_release(h_.item(slot).owner, kStaleOwner);  // as a restored record would carry
  ASSERT_EQ(dl_start(&h_.ctx(), slot), 0);
  EXPECT_EQ(load_acquire(h_.item(slot).owner), &h_.ctx());
  EXPECT_TRUE(path_exists(dir_ / "a.bin")) << "opened (and created) on the caller's thread";
  EXPECT_EQ(codes_for(h_, slot).at(0), TVN_NOTICE_OPEN_FILE);
  // The item is prepared and probed: the HEAD reaches the server, which holds it.
  EXPECT_TRUE(server_.wait_for_requests(1, 3s));
  EXPECT_EQ(server_.requests().at(0).method, "HEAD");
  EXPECT_EQ(h_.state(slot), TVN_STATE_PROBING);
  EXPECT_EQ(dl_start(&h_.ctx(), slot), -1) << "only a reserved slot starts";
  EXPECT_EQ(dl_start(&h_.ctx(), 2), -1);
  EXPECT_EQ(dl_start(&h_.ctx(), -1), -1);
}

TEST_F(SlotStart, AFileThatCannotBeOpenedLeavesTheSlotFailedAndOccupied) {
  struct Case {
    const char* name;
    bool refuse_in_301;
    std::string url_path;
  } cases[] = {
      {"client refuses in 301", true, "/b.bin"},
      {"url ends in a bare query: the name is the folder", false, "/?q=1"},
  };
  store_release(h_.ctx().max_items, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    h_.answer(TVN_NOTICE_OPEN_FILE,
              [refuse = c.refuse_in_301](EngineContext*, int, int, void*) { return refuse ? -1 : 0; });
    ItemSpec s = item_to("");
    s.url = server_.url(c.url_path);
    const int failed_before = h_.count(TVN_NOTICE_FAILED);
    int result = 0;
    const int slot = h_.start(s, &result);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(h_.state(slot), TVN_STATE_FAILED);
    EXPECT_EQ(h_.count(TVN_NOTICE_FAILED), failed_before + 1) << "raised on the caller's thread";
    EXPECT_EQ(dl_set(&h_.ctx()), -1) << "the failed slot still counts until the client frees it";
    store_release(h_.item(slot).state, TVN_STATE_EMPTY);
    h_.item(slot).disk.file = 0;
  }
  EXPECT_FALSE(path_exists(dir_ / "b.bin"));
  EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(SlotStart, TheClientMayOpenTheFileItselfDuring301) {
  const std::string own = dir_ / "chosen/own-name.bin";
  h_.answer(TVN_NOTICE_OPEN_FILE, [&](EngineContext* ctx, int slot, int, void*) {
    return DiskIO_OpenFile(&load_acquire(ctx->items)[slot].disk, own.c_str());
  });
  int result = -1;
  const int slot = h_.start(item_to("default.bin"), &result);
  ASSERT_EQ(result, 0);
  EXPECT_STREQ(h_.item(slot).disk.file_name, own.c_str());
  EXPECT_TRUE(path_exists(own));
  EXPECT_FALSE(path_exists(dir_ / "default.bin"));
}

TEST_F(SlotStart, AMemoryFetchOpensNoFile) {
  ItemSpec s = item_to("page.html");
  s.options = TVN_OPT_MEMORY_FETCH;
  int result = -1;
  const int slot = h_.start(s, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(h_.item(slot).disk.file, 0);
  EXPECT_EQ(h_.count(TVN_NOTICE_OPEN_FILE), 0);
  EXPECT_FALSE(path_exists(dir_ / "page.html"));
}

// Anything that cannot become a safe request fails the item at preparation:
// nothing reaches the network, the empty file is removed and the slot freed.
TEST_F(SlotStart, ItemsThatCannotBePreparedFailWith108) {
  struct Case {
    const char* name;
    std::string url_suffix;  // appended to the server's URL
    std::optional<std::string> referer, agent;
    const char* bad_url;     // replaces the URL when set
  } cases[] = {
      {"CR LF in the url", "/a\r\nX-Injected: 1", {}, {}, nullptr},
      {"tab in the url", "/a\tb", {}, {}, nullptr},
      {"LF in the referer", "/a", "http://r/\nX: 1", {}, nullptr},
      {"0x1f in the user agent", "/a", {}, "agent\x1f", nullptr},
      {"another scheme", "", {}, {}, "https://127.0.0.1/a"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ItemSpec s = item_to("");
    s.url = c.bad_url ? c.bad_url : server_.url(c.url_suffix);
    s.save_path = dir_ / ("prep-" + std::to_string(n++) + ".bin");
    s.referer = c.referer;
    s.user_agent = c.agent;
    const int freed_before = h_.count(TVN_NOTICE_SLOT_FREE);
    int result = -1;
    const int slot = h_.start(s, &result);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(result, 0) << "the file opens; preparation fails later";
    ASSERT_TRUE(h_.wait_count(TVN_NOTICE_SLOT_FREE, -1, freed_before + 1, 3s));
    const std::vector<int> tail = codes_for(h_, slot);
    ASSERT_GE(tail.size(), 3u);
    EXPECT_EQ(std::vector<int>(tail.end() - 3, tail.end()),
              (std::vector<int>{TVN_NOTICE_CLOSING, TVN_NOTICE_FAILED, TVN_NOTICE_SLOT_FREE}));
    EXPECT_EQ(h_.state(slot), TVN_STATE_EMPTY);
    EXPECT_FALSE(path_exists(s.save_path)) << "the empty file is deleted";
  }
  EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(SlotStart, StopWhileTheHeadIsPendingEndsWith109) {
  const int slot = h_.start(item_to("held.bin"));
  ASSERT_GE(slot, 0);
  ASSERT_TRUE(server_.wait_for_requests(1, 3s));
  ASSERT_EQ(dl_stop(&h_.item(slot), -1), 0);
  ASSERT_TRUE(h_.wait_notice(TVN_NOTICE_SLOT_FREE, slot, 3s));
  const std::vector<int> codes = codes_for(h_, slot);
  EXPECT_EQ(std::vector<int>(codes.end() - 3, codes.end()),
            (std::vector<int>{TVN_NOTICE_CLOSING, TVN_NOTICE_STOPPED, TVN_NOTICE_SLOT_FREE}));
  EXPECT_EQ(h_.state(slot), TVN_STATE_EMPTY);
  EXPECT_TRUE(EngineHarness::wait_until([&] { return server_.client_closes() == 1; }, 2s))
      << "the held connection is closed";
}

// The pause at the top of a cycle is long here; an export must still get
// its work done at once.
TEST(EnginePause, ExportsWakeTheThreads) {
  TempDir dir;
  ScriptedServer server([](const HttpRequest&) { return HttpReply::silence(); });
  EngineHarness h(2, /*wait_ms=*/3000);
  ASSERT_EQ(h.init_result(), 1);
  std::this_thread::sleep_for(50ms);  // both threads are in their pause now
  const auto quick = 1500ms;

  ItemSpec bad;
  bad.url = "https://127.0.0.1/a";
  bad.save_path = dir / "bad.bin";
  const int failed = h.start(bad);
  EXPECT_TRUE(h.wait_notice(TVN_NOTICE_SLOT_FREE, failed, quick)) << "dl_start woke the connection thread";

  ItemSpec good;
  good.url = server.url("/held.bin");
  good.save_path = dir / "held.bin";
  const int slot = h.start(good);
  ASSERT_TRUE(EngineHarness::wait_until([&] { return h.state(slot) == TVN_STATE_PROBING; }, quick))
      << "dl_start woke the connection thread";
  dl_stop(&h.item(slot), -1);
  EXPECT_TRUE(h.wait_notice(TVN_NOTICE_STOPPED, slot, quick)) << "dl_stop woke the download thread";

  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(h.end(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, quick) << "torvane_end woke both threads";
}

// Without a callback every notice counts as result 0: the file opens and the
// download runs to its end.
TEST(EngineWithoutCallback, DownloadsAllTheSame) {
  TempDir dir;
  auto content = std::make_shared<const std::string>(pattern_bytes(50000, 3));
  ScriptedServer server(serve_resource(content));
  EngineHarness h(1, 20, /*with_callback=*/false);
  ASSERT_EQ(h.init_result(), 1);
  ItemSpec s;
  s.url = server.url("/f.bin");
  s.save_path = dir.path() + "/";
  s.div_count = 2;
  int result = -1;
  const int slot = h.start(s, &result);
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(path_exists(dir / "f.bin"));
  ASSERT_TRUE(EngineHarness::wait_until([&] { return h.state(slot) == TVN_STATE_EMPTY; }, 5s));
  EXPECT_EQ(read_file(dir / "f.bin"), *content);
}

}  // namespace
}  // namespace torvane::test
