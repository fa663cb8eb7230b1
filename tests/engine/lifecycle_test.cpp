// What an item leaves on disk and reports at its end, through libtorvane.so,
// also when a stopped record is resumed the way the program does it. Past
// 4 GiB cheaply: the scripted server announces the size but sends only a
// small slice to each GET, so the output file stays sparse. A client that
// reads only the 32-bit fields sees TVN_SIZE_WIDE; the whole values are in
// the slot's WideSizes, and a client resumes from them in a fresh engine.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <csignal>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/kept_item.h"
#include "tests/support/sparse_file.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);
using Body = std::shared_ptr<const std::string>;

Body bytes(std::size_t size, std::uint32_t seed) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

// Two entries of a shared array, read as another thread reads them.
template <class T>
std::vector<T> two(T*& field) {
  T* array = load_acquire(field);
  if (array == nullptr) return {};
  return {load_relaxed(array[0]), load_relaxed(array[1])};
}

class Lifecycle : public testing::Test {
 protected:
  ItemSetup item(int divisions = 1, std::uint32_t options = 0, const char* path = "/f") const {
    return {server_.url(path), target_, divisions, 0, options};
  }
  // Waits until both divisions of `slot` hold `n` bytes, written or waiting in their shares.
  static bool both_hold(EngineHarness& e, int slot, std::uint64_t n) {
    return EngineHarness::wait_until(
        [&] {  // the state first: its release publishes the arrays
          WideSizes* wide = dl_wide(&e.ctx(), slot);
          if (e.state(slot) != TVN_STATE_DOWNLOADING || wide == nullptr ||
              load_acquire(e.item(slot).div_count) != 2)
            return false;
          const std::vector<std::uint64_t> done = two(wide->range_done);
          const std::vector<std::int32_t> fill = two(e.item(slot).disk.buf_fill);
          return done.size() == 2 && fill.size() == 2 && done[0] + fill[0] == n &&
                 done[1] + fill[1] == n;
        },
        kDeadline);
  }

  TempDir dir_;
  const std::string target_ = dir_ / "out.bin";
  ScriptedServer server_;
  KeptItem kept_;
};

// A retry of every division, or of a finished one, must not ask for it again.
TEST_F(Lifecycle, RetryLeavesFinishedDivisionsFinished) {
  constexpr int kDivisions = 3;
  const Body body = bytes(90000, 3);
  for (const std::vector<int>& reconnects :
       std::vector<std::vector<int>>{{-1}, {kDivisions - 1, 0}}) {
    SCOPED_TRACE(testing::Message() << "first reconnect " << reconnects[0]);
    const auto gate = std::make_shared<Gate>();
    server_.set_handler([=](const HttpRequest& r) {
      const HttpReply reply = resource_reply(r, body);
      return r.method == "GET" && r.range_start() != 60000 ? held(reply, gate, 1000) : reply;
    });
    const std::size_t before = server_.request_count();
    EngineHarness e(1);
    const int slot = e.start(item(kDivisions));
    ASSERT_TRUE(e.wait_division_done(slot, kDivisions - 1, kDeadline));
    for (const int div : reconnects) dl_reconnect(&e.ctx(), slot, div, 1);
    // Division 0 asked again in both rows: the reconnects were carried out.
    ASSERT_TRUE(EngineHarness::wait_until(
        [&] {
          const auto starts = server_.get_starts(before);
          return starts.size() >= 2 && starts[1] < 30000;
        },
        kDeadline));
    gate->open();
    EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
    EXPECT_EQ(read_file(target_), *body);
    std::remove(target_.c_str());
  }
}

// Another item's file under the same name stays, whichever made it.
TEST_F(Lifecycle, FailingItemDeletesOnlyAnEmptyFileOfItsOwn) {
  const Body body = bytes(50000, 5);
  for (const bool failing_first : {true, false}) {
    SCOPED_TRACE(testing::Message() << "failing item first " << failing_first);
    const auto bad_gate = std::make_shared<Gate>(), good_gate = std::make_shared<Gate>();
    server_.set_handler([=](const HttpRequest& r) {
      if (r.target == "/bad") return held(HttpReply::raw("HTTP/1.0 404 Gone\r\n\r\n"), bad_gate);
      const HttpReply reply = resource_reply(r, body);
      return r.method == "GET" ? held(reply, good_gate) : reply;
    });
    EngineHarness e(2);  // dl_start opens the file: the first to start creates it
    const int first = e.start(item(2, 0, failing_first ? "/bad" : "/good"));
    const int second = e.start(item(2, 0, failing_first ? "/good" : "/bad"));
    bad_gate->open();
    EXPECT_EQ(e.wait_final(failing_first ? first : second, kDeadline), TVN_NOTICE_FAILED);
    good_gate->open();
    EXPECT_EQ(e.wait_final(failing_first ? second : first, kDeadline), TVN_NOTICE_FINISHED);
    EXPECT_EQ(read_file(target_), *body);

    e.start(item(1, 0, "/bad"));
    ASSERT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, -1, 3, kDeadline));
    EXPECT_EQ(e.count(TVN_NOTICE_FAILED), 2);
    EXPECT_EQ(read_file(target_), *body);
    std::remove(target_.c_str());
  }
  EngineHarness e(1);
  EXPECT_EQ(e.wait_final(e.start(item(1, 0, "/bad")), kDeadline), TVN_NOTICE_FAILED);
  EXPECT_FALSE(path_exists(target_));
}

// A refused write other than a full disk (DiskFullTest) fails the item, said once.
TEST_F(Lifecycle, RefusedWriteFailsTheItemOnceWithoutAskingAgain) {
  server_.set_handler(serve_resource(bytes(1 << 20, 2)));
  EngineHarness e(1);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit small{100000, old_limit.rlim_max};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int final_notice = e.wait_final(e.start(item(4, TVN_OPT_AUTO_RESUME)), kDeadline);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(final_notice, TVN_NOTICE_FAILED);
  EXPECT_EQ(e.texts(TVN_NOTICE_MESSAGE), std::vector<std::string>{"File too large: " + target_});
  EXPECT_LE(server_.request_count(), 5u);
}

// A stop that met the last bytes: resumed, the item must finish, not run for ever.
TEST_F(Lifecycle, ResumedRecordWithEveryDivisionEndedFinishes) {
  const Body body = bytes(60000, 7);
  const auto gate = std::make_shared<Gate>();
  server_.set_handler([=](const HttpRequest& r) {
    const HttpReply reply = resource_reply(r, body);
    return r.method == "GET" && r.range_start() == 0 ? held(reply, gate, 1000) : reply;
  });
  EngineHarness e(1);
  kept_.keep_stopped(e);
  ASSERT_TRUE(e.wait_division_done(e.start(item(2)), 1, kDeadline));
  ASSERT_TRUE(e.stop_all());
  gate->open();
  ASSERT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, -1, 1, kDeadline));
  ASSERT_NE(kept_.record(), nullptr);
  // As if division 0's last bytes had reached the file just before the stop.
  ASSERT_TRUE(write_file(target_, *body + "stale tail"));
  ItemData& saved = *kept_.record();
  saved.div_status[0] = TVN_DIV_DONE;
  saved.disk.range_done[0] = saved.disk.range_len[0];
  ASSERT_GE(kept_.resume(e), 0);
  EXPECT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, -1, 2, kDeadline));
  EXPECT_EQ(e.count(TVN_NOTICE_FINISHED), 1);
  EXPECT_TRUE(read_file(target_) == *body);
}

// Unchanged files go on: ManagerFiles.AResumeGoesOnInItsOwnFileUnderEveryPolicy.
TEST_F(Lifecycle, ResumeOfAChangedFileStartsOver) {
  const Body first = bytes(300000, 3), second = bytes(300000, 9);
  std::atomic<bool> resumed{false};
  server_.set_handler([&, never = std::make_shared<Gate>()](const HttpRequest& r) {
    if (resumed) return resource_reply(r, second, {.validator = "\"v2\""});
    const HttpReply reply = resource_reply(r, first, {.validator = "\"v1\""});
    return r.method == "GET" ? held(reply, never, 10000) : reply;
  });
  EngineHarness e(1);
  kept_.keep_stopped(e);
  const int slot = e.start(item(2));
  ASSERT_TRUE(both_hold(e, slot, 10000));
  dl_stop(&e.item(slot), -1);
  ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);

  resumed = true;
  const std::size_t before = server_.request_count();
  std::string header = "If-Range: \"v1\"\r\n";
  kept_.record()->extra_header = header.data();
  ASSERT_GE(kept_.resume(e), 0);
  ASSERT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, -1, 2, kDeadline));
  EXPECT_EQ(e.count(TVN_NOTICE_FINISHED), 1);
  EXPECT_TRUE(read_file(target_) == *second);
  EXPECT_EQ(e.count(TVN_NOTICE_MESSAGE), 1);
  const auto requests = server_.requests();
  for (std::size_t i = before; i < requests.size(); ++i) {
    const std::string& raw = requests[i].raw;
    EXPECT_NE(raw.find("If-Range: "), std::string::npos) << raw;
    EXPECT_EQ(raw.find("If-Range: ", raw.find("If-Range: ") + 1), std::string::npos) << raw;
  }
}

// Two divisions, each a little over 4 GiB: division 0 ends 1000 bytes past
// 4 GiB and division 1 starts there.
constexpr std::uint64_t kLen0 = kFourGiB + 1000, kLen1 = kFourGiB + 999;
constexpr std::uint64_t kSize = kLen0 + kLen1;
using Whole = std::vector<std::uint64_t>;
using Fields = std::vector<std::uint32_t>;

// A file of kSize whose GETs get 3000 bytes each (fewer at its end), then silence.
class WideSizes4G : public Lifecycle {
 protected:
  void SetUp() override {
    server_.set_handler([](const HttpRequest& r) { return announced_reply(r, kSize, 3000); });
  }
};

// The resume takes a saturated field's whole value, and a field below 4 GiB as it is.
TEST_F(WideSizes4G, StopAndResumeInAFreshEngineFromTheWholeValues) {
  {
    EngineHarness e(1);
    kept_.keep_stopped(e);
    const int slot = e.start(item(2));
    ASSERT_GE(slot, 0);
    ItemData& item = e.item(slot);
    WideSizes* wide = dl_wide(&e.ctx(), slot);
    ASSERT_NE(wide, nullptr);
    ASSERT_TRUE(both_hold(e, slot, 3000));
    EXPECT_EQ(load_relaxed(item.disk.file_size), TVN_SIZE_WIDE);
    EXPECT_EQ(load_relaxed(wide->file_size), kSize);
    EXPECT_EQ(two(item.disk.range_len), (Fields{TVN_SIZE_WIDE, TVN_SIZE_WIDE}));
    EXPECT_EQ(two(wide->range_len), (Whole{kLen0, kLen1}));
    EXPECT_EQ(server_.get_starts(), (std::vector<std::int64_t>{0, kLen0}));
    ASSERT_EQ(dl_stop(&item, -1), 0);
    ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);
    // Released with the record.
    EXPECT_EQ(load_acquire(wide->range_len), nullptr);
    EXPECT_EQ(load_relaxed(wide->file_size), 0u);
  }
  ASSERT_NE(kept_.record(), nullptr);
  EXPECT_EQ(std::tuple(kept_.file_size, kept_.len, kept_.done),
            std::tuple(kSize, Whole{kLen0, kLen1}, Whole{3000, 3000}));

  const std::uint64_t done0 = kFourGiB - 2000, done1 = kLen1 - 500;
  kept_.record()->disk.range_done[0] = static_cast<std::uint32_t>(done0);
  kept_.record()->disk.range_done[1] = TVN_SIZE_WIDE;
  kept_.done = {12345, done1};  // 12345 is not taken: its field holds a value below 4 GiB
  const std::size_t before = server_.request_count();
  EngineHarness e(1);
  Whole final_done;
  Fields final_fields;
  e.answer(TVN_NOTICE_FINISHED, [&](EngineContext* ctx, int slot, int, void*) {
    final_done = two(dl_wide(ctx, slot)->range_done);
    final_fields = two(load_acquire(ctx->items)[slot].disk.range_done);
    return 0;
  });
  const int slot = kept_.resume(e);
  ASSERT_GE(slot, 0);
  ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_EQ(server_.get_starts(before), (std::vector<std::int64_t>{done0, kLen0 + done1}));
  EXPECT_EQ(final_done, (Whole{kLen0, kLen1}));
  EXPECT_EQ(final_fields, (Fields{TVN_SIZE_WIDE, TVN_SIZE_WIDE}));
  EXPECT_EQ(file_size_of(target_), kSize);
  for (const auto& [from, n] : std::map<std::uint64_t, std::size_t>{
           {0, 3000}, {kLen0, 3000}, {done0, 3000}, {kSize - 500, 500}})
    EXPECT_EQ(read_at(target_, from, n), announced_bytes(from, n)) << from;
}

}  // namespace
}  // namespace torvane::test
