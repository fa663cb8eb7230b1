// The course of a download: sizes known and unknown, early closes, a server
// that ignores ranges, stops and resumes, reconnects, SpeedMode, pages
// fetched into memory, and answers that must never yield a finished file.
#include <atomic>
#include <cstring>
#include <mutex>

#include "tests/engine/download_fixture.h"

namespace torvane::test {
namespace {

class EarlyCloseTest : public DownloadTest, public ::testing::WithParamInterface<bool> {};

// The first GET ends after 70000 bytes: with AutoResume the division asks
// again from there, without it the item fails.
TEST_P(EarlyCloseTest, ResumesFromThePositionOnlyWithAutoResume) {
  const bool auto_resume = GetParam();
  auto body = content(200000);
  std::atomic<int> gets{0};
  server_.set_handler([&](const HttpRequest& r) {
    HttpReply reply = resource_reply(r, body);
    if (r.method == "GET" && gets.fetch_add(1) == 0) reply.send_limit = reply.head.size() + 70000;
    return reply;
  });
  const int final = run(item_for("/f", 1, auto_resume ? static_cast<std::uint32_t>(TVN_OPT_AUTO_RESUME) : 0u));
  if (!auto_resume) {
    EXPECT_EQ(final, TVN_NOTICE_FAILED);
    return;
  }
  ASSERT_EQ(final, TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].range_start(), 70000);
}

INSTANTIATE_TEST_SUITE_P(AutoResume, EarlyCloseTest, ::testing::Bool());

TEST_F(DownloadTest, LaterDivisionWithTheWholeFileTurnsIntoOneConnection) {
  auto body = content(300000);
  ResourceOptions plain;
  plain.ignore_ranges = true;
  server_.set_handler(serve_resource(body, plain));
  ASSERT_EQ(run(item_for("/f", 4)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
}

TEST_F(DownloadTest, UnknownSizeGivesOneDivisionCompletedAtClose) {
  auto body = content(123457);
  ResourceOptions no_length;
  no_length.omit_length = true;
  server_.set_handler(serve_resource(body, no_length));
  ASSERT_EQ(run(item_for("/f", 5)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
  EXPECT_EQ(server_.request_count(), 2u);  // HEAD and a single GET
}

TEST_F(DownloadTest, LengthOfFourGibibytesFailsWithOneMessage) {
  server_.set_handler([](const HttpRequest&) {
    return HttpReply::raw("HTTP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n");
  });
  EXPECT_EQ(run(item_for("/f", 2)), TVN_NOTICE_FAILED);
  EXPECT_EQ(engine_.count(TVN_NOTICE_MESSAGE), 1);
}

TEST_F(DownloadTest, StopWhileTheHeadIsPendingEndsWith109) {
  server_.set_handler([](const HttpRequest&) { return HttpReply::silence(); });
  int started = -1;
  const int slot = engine_.start(item_for("/f", 3), &started);
  ASSERT_EQ(started, 0);
  ASSERT_TRUE(server_.wait_for_requests(1, kDeadline));
  ASSERT_EQ(dl_stop(&engine_.item(slot), -1), 0);
  EXPECT_EQ(wait_final(slot), TVN_NOTICE_STOPPED);
}

TEST_F(DownloadTest, StoppedItemResumesInAFreshSlotByteIdentical) {
  auto body = content(600000);
  auto gate = std::make_shared<Gate>();
  serve_gated(body, gate, 50000);  // each division delivers 50000 bytes, then waits
  ItemData* saved_copy = nullptr;
  engine_.answer(TVN_NOTICE_STOPPED, [&](EngineContext*, int slot, int, void*) {
    saved_copy = copy_itemdata(nullptr, &engine_.item(slot));
    // The client clears the stop requests of the copy it keeps, as the
    // program does, or the resumed item would stop again at once.
    std::memset(saved_copy->div_stop, 0, sizeof(std::int32_t) * (saved_copy->div_count + 1));
    return 0;
  });
  int started = -1;
  const int slot = engine_.start(item_for("/f", 3), &started);
  ASSERT_EQ(started, 0);
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] {
        ItemData& it = engine_.item(slot);
        if (torvane::load_acquire(it.state) != TVN_STATE_DOWNLOADING) return false;
        std::uint32_t done = 0;
        for (int i = 0; i < 3; ++i)
          done += torvane::load_relaxed(it.disk.range_done[i]) +
                  torvane::load_relaxed(it.disk.buf_fill[i]);
        return done >= 150000;
      },
      kDeadline));
  ASSERT_EQ(dl_stop(&engine_.item(slot), -1), 0);
  ASSERT_EQ(wait_final(slot), TVN_NOTICE_STOPPED);
  ASSERT_NE(saved_copy, nullptr);
  gate->open();
  server_.release_held();

  const int again = dl_set(&engine_.ctx());
  ASSERT_GE(again, 0);
  ItemData& fresh = engine_.item(again);
  copy_itemdata(&fresh, saved_copy);
  // In a live slot the client owns url and save_path: the copies the engine
  // made go back to it and the client's own buffers take their place.
  for (char** text : {&fresh.url, &fresh.save_path}) {
    char* copy = *text;
    *text = engine_.keep(copy, TVN_URL_CAPACITY);
    FreeMem(&copy);
  }
  torvane::store_release(fresh.state, TVN_STATE_EMPTY);
  ASSERT_EQ(dl_resume(&engine_.ctx(), again, -1), 0);
  // The slot may be the stopped item's own, whose 109 is on record already.
  ASSERT_TRUE(engine_.wait_notice(TVN_NOTICE_FINISHED, again, kDeadline));
  ASSERT_TRUE(engine_.wait_count(TVN_NOTICE_SLOT_FREE, again, again == slot ? 2 : 1, kDeadline));
  EXPECT_EQ(saved(), *body);
  // The resumed requests start where the stopped divisions ended.
  for (const HttpRequest& r : server_.requests()) {
    const std::int64_t at = r.range_start();
    if (r.method == "GET" && at != 0 && at != 200000 && at != 400000) {
      EXPECT_EQ(at % 200000, 50000);
    }
  }
  free_itemdata(saved_copy);
  FreeMem(&saved_copy);
}

TEST_F(DownloadTest, ReconnectDoesNotUseAnAttempt) {
  auto body = content(100000);
  auto gate = std::make_shared<Gate>();
  serve_gated(body, gate, 1000);
  ItemSetup s = item_for("/f", 1);
  s.retry = 1;  // a counted attempt would fail the item at once
  int started = -1;
  const int slot = engine_.start(s, &started);
  ASSERT_TRUE(server_.wait_for_requests(2, kDeadline));
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] { return torvane::load_acquire(engine_.item(slot).disk.range_done[0]) >= 1000; },
      kDeadline));
  gate->open();
  ASSERT_EQ(dl_reconnect(&engine_.ctx(), slot, -1, 0), 0);
  EXPECT_EQ(wait_final(slot), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
}

TEST_F(DownloadTest, AtMost64SocketsArePolledPerItem) {
  auto body = content(70 * 9000);
  auto gate = std::make_shared<Gate>();
  serve_gated(body, gate, 0);  // every body waits until all 70 requests are in
  int started = -1;
  const int slot = engine_.start(item_for("/f", 70), &started);
  ASSERT_TRUE(server_.wait_for_requests(71, kDeadline));
  gate->open();
  EXPECT_EQ(wait_final(slot), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
}

TEST_F(DownloadTest, HeaderNoticeCanFailOrRestartADivision) {
  auto body = content(90000);
  server_.set_handler(serve_resource(body));
  std::atomic<int> calls{0};
  engine_.answer(TVN_NOTICE_HEADER_PARSED, [&](EngineContext*, int, int div, void*) {
    const int call = calls.fetch_add(1);
    if (call == 0) return 1;                 // restart the HEAD once
    return (div == 1 && call < 4) ? -1 : 0;  // then fail division 1
  });
  EXPECT_EQ(run(item_for("/f", 2)), TVN_NOTICE_FAILED);
  const auto requests = server_.requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[1].method, "HEAD");
}

TEST_F(DownloadTest, SpeedModeLearnsTheSizeFromTheFirstGet) {
  auto body = content(500000);
  server_.set_handler(serve_resource(body));
  ASSERT_EQ(run(item_for("/f", 4, TVN_OPT_SPEED_MODE)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
  const auto requests = server_.requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].range_start(), 0);
  for (const HttpRequest& r : requests) EXPECT_NE(r.method, "HEAD");
}

class MemoryFetchTest : public DownloadTest,
                        public ::testing::WithParamInterface<std::tuple<bool, std::size_t>> {};

// A page larger than the 32768-byte buffer of an unknown size, and one
// smaller than the header of its answer.
TEST_P(MemoryFetchTest, NoticeReceivesTheWholePage) {
  const auto [with_length, size] = GetParam();
  auto page = content(size);
  ResourceOptions options;
  options.omit_length = !with_length;
  server_.set_handler(serve_resource(page, options));
  std::string received;
  engine_.answer(TVN_NOTICE_MEMORY_DONE, [&](EngineContext*, int, int, void* data) {
    const auto* disk = static_cast<DiskIO*>(data);
    received.assign(disk->buf_block, static_cast<std::size_t>(disk->buf_fill[0]));
    return 0;
  });
  ASSERT_EQ(run(item_for("/page", 1, TVN_OPT_MEMORY_FETCH)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(received, *page);
  EXPECT_FALSE(path_exists(target()));
}

INSTANTIATE_TEST_SUITE_P(Length, MemoryFetchTest,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(std::size_t{100000}, std::size_t{60})));

}  // namespace
}  // namespace torvane::test
