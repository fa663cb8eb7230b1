// What an item leaves on disk and reports at its end, through libtorvane.so:
// a retry never undoes finished divisions, a failing item never destroys a
// file it did not make, and a finished empty download leaves its empty file.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);
using Body = std::shared_ptr<const std::string>;

class Lifecycle : public testing::Test {
 protected:
  ItemSetup item(const std::string& url, int divisions = 1) const {
    return {
        .url = url, .save_path = target_, .div_count = divisions, .buffer_size = 40000 * divisions};
  }

  TempDir dir_;
  const std::string target_ = dir_ / "out.bin";
  ScriptedServer server_;
};

// The last division finishes while the others are held back; the retry
// command then goes to every division, or to the finished one alone. The
// finished division must not ask again (it would get 416 until its attempts
// ran out and fail the item).
TEST_F(Lifecycle, RetryLeavesFinishedDivisionsFinished) {
  constexpr int kDivisions = 3;
  const Body body = std::make_shared<const std::string>(pattern_bytes(90000, 3));
  const std::int64_t last_start = 60000;
  const std::vector<std::vector<int>> rows = {{-1}, {kDivisions - 1, 0}};
  for (const std::vector<int>& reconnects : rows) {
    SCOPED_TRACE(testing::Message() << "first reconnect " << reconnects[0]);
    const auto gate = std::make_shared<Gate>();
    ScriptedServer server([&, gate](const HttpRequest& r) {
      HttpReply reply = resource_reply(r, body);
      if (r.method == "GET" && r.range_start() != last_start) {
        reply.gate = gate;
        reply.gate_at = reply.head.size() + 1000;
      }
      return reply;
    });
    EngineHarness e(1);
    const int slot = e.start(item(server.url("/f"), kDivisions));
    ASSERT_TRUE(EngineHarness::wait_until(
        [&] {
          // The arrays are the engine's to publish, with the state.
          if (e.state(slot) != TVN_STATE_DOWNLOADING) return false;
          const std::int32_t* status = load_acquire(e.item(slot).div_status);
          return load_acquire(status[kDivisions - 1]) == TVN_DIV_DONE;
        },
        kDeadline));
    for (const int div : reconnects) dl_reconnect(&e.ctx(), slot, div, 1);
    // Division 0 asks again for the rest of its range in both rows: the
    // reconnects have been carried out.
    ASSERT_TRUE(EngineHarness::wait_until(
        [&] {
          int asked = 0;
          for (const HttpRequest& r : server.requests())
            asked += r.method == "GET" && r.range_start() < 30000 ? 1 : 0;
          return asked >= 2;
        },
        kDeadline));
    gate->open();
    EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
    EXPECT_EQ(read_file(target_), *body);
    std::remove(target_.c_str());
  }
}

// Two items write one file name and one of them fails while the file is
// still empty: the other's file stays, whichever of them made it, and so
// does the finished file when the failing item is tried once more. Alone,
// the failing item leaves no empty file of its own behind.
TEST_F(Lifecycle, FailingItemDeletesOnlyAnEmptyFileOfItsOwn) {
  const Body body = std::make_shared<const std::string>(pattern_bytes(50000, 5));
  const std::string bad = server_.url("/bad");
  for (const bool failing_first : {true, false}) {
    SCOPED_TRACE(testing::Message() << "failing item first " << failing_first);
    // Nothing is sent to the failing item, nor for the good item's GET, until a gate opens.
    const auto bad_gate = std::make_shared<Gate>(), good_gate = std::make_shared<Gate>();
    server_.set_handler([=](const HttpRequest& r) {
      if (r.target == "/bad")
        return HttpReply{.head = "HTTP/1.0 404 Gone\r\n\r\n", .gate = bad_gate};
      HttpReply reply = resource_reply(r, body);
      if (r.method == "GET") reply.gate = good_gate;
      return reply;
    });
    // dl_start opens the file: the first of the two to start creates it.
    EngineHarness e(2);
    const int first = e.start(item(failing_first ? bad : server_.url("/good"), 2));
    const int second = e.start(item(failing_first ? server_.url("/good") : bad, 2));
    const int failing = failing_first ? first : second, good = failing_first ? second : first;
    bad_gate->open();
    EXPECT_EQ(e.wait_final(failing, kDeadline), TVN_NOTICE_FAILED);
    good_gate->open();
    EXPECT_EQ(e.wait_final(good, kDeadline), TVN_NOTICE_FINISHED);
    EXPECT_EQ(read_file(target_), *body);

    e.start(item(bad));
    ASSERT_TRUE(e.wait_count(TVN_NOTICE_FAILED, -1, 2, kDeadline));
    ASSERT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, -1, 3, kDeadline));
    EXPECT_EQ(read_file(target_), *body);
    std::remove(target_.c_str());
  }
  EngineHarness e(1);
  EXPECT_EQ(e.wait_final(e.start(item(bad)), kDeadline), TVN_NOTICE_FAILED);
  EXPECT_FALSE(path_exists(target_));
}

// The disk refuses every write from the first body byte on: the item fails
// rather than reporting a file with a hole as finished.
TEST_F(Lifecycle, RefusedWritesFailTheItem) {
  server_.set_handler(serve_resource(std::make_shared<const std::string>(pattern_bytes(1000))));
  EngineHarness e(1);
  e.answer(TVN_NOTICE_GET_HEADER, [](EngineContext* ctx, int slot, int, void*) {
    EXPECT_TRUE(redirect_descriptor(load_acquire(ctx->items)[slot].disk.file, "/dev/full"));
    return 0;
  });
  EXPECT_EQ(e.wait_final(e.start(item(server_.url("/f"))), kDeadline), TVN_NOTICE_FAILED);
}

// An empty resource finishes with an empty file, whether a file of that
// name was there before or not: a length of 0, or no length and a body that
// ends at once.
TEST_F(Lifecycle, FinishedEmptyDownloadLeavesAnEmptyFile) {
  for (const char* head :
       {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"}) {
    for (const bool file_there : {false, true}) {
      SCOPED_TRACE(testing::Message() << head << "file there " << file_there);
      server_.set_handler([=](const HttpRequest&) { return HttpReply::raw(head); });
      if (file_there) write_file(target_, "an older, longer file");
      EngineHarness e(1);
      EXPECT_EQ(e.wait_final(e.start(item(server_.url("/f"), 2)), kDeadline), TVN_NOTICE_FINISHED);
      EXPECT_EQ(read_file(target_), "");
      std::remove(target_.c_str());
    }
  }
}

}  // namespace
}  // namespace torvane::test

namespace torvane::test {
namespace {

// A stop that meets the last bytes leaves a record whose divisions have all
// ended. Resumed, it has nothing to receive and must finish (and trim its
// file), not stay running for ever.
TEST_F(Lifecycle, ResumedRecordWithEveryDivisionEndedFinishes) {
  const Body body = std::make_shared<const std::string>(pattern_bytes(60000, 7));
  const auto gate = std::make_shared<Gate>();
  ScriptedServer server([&, gate](const HttpRequest& r) {
    HttpReply reply = resource_reply(r, body);
    if (r.method == "GET" && r.range_start() == 0) {
      reply.gate = gate;
      reply.gate_at = reply.head.size() + 1000;
    }
    return reply;
  });
  EngineHarness e(1);
  ItemData* saved = nullptr;
  e.answer(TVN_NOTICE_STOPPED, [&](EngineContext*, int slot, int, void*) {
    saved = copy_itemdata(nullptr, &e.item(slot));
    return 0;
  });
  const int slot = e.start(item(server.url("/f"), 2));
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] {
        if (e.state(slot) != TVN_STATE_DOWNLOADING) return false;
        return load_acquire(load_acquire(e.item(slot).div_status)[1]) == TVN_DIV_DONE;
      },
      kDeadline));
  ASSERT_TRUE(e.stop_all());
  gate->open();
  ASSERT_NE(saved, nullptr);
  // As if the first division's last bytes had reached the file just before
  // the stop: every division has ended, every byte is there.
  ASSERT_TRUE(write_file(target_, *body + "stale tail"));
  saved->div_status[0] = TVN_DIV_DONE;
  saved->disk.range_done[0] = saved->disk.range_len[0];
  std::memset(saved->div_stop, 0, sizeof(std::int32_t) * 3);

  const int again = dl_set(&e.ctx());
  ASSERT_GE(again, 0);
  ItemData& live = e.item(again);
  ASSERT_NE(copy_itemdata(&live, saved), nullptr);
  store_release(live.state, TVN_STATE_EMPTY);  // dl_resume takes up no reserved record
  // The copied texts are the client's; the finished slot forgets them.
  char* texts[] = {live.url, live.save_path};
  ASSERT_EQ(dl_resume(&e.ctx(), again, -1), 0);
  // The slot may be the first one again: its notices are counted on.
  EXPECT_TRUE(e.wait_notice(TVN_NOTICE_FINISHED, again, kDeadline));
  EXPECT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, again, again == slot ? 2 : 1, kDeadline));
  EXPECT_TRUE(read_file(target_) == *body);
  for (char*& text : texts) FreeMem(&text);
  free_itemdata(saved);
  void* block = saved;
  FreeMem(&block);
}

}  // namespace
}  // namespace torvane::test
