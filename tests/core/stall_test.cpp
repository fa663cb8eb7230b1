// Stalled downloads end: servers that accept and never answer, send a header
// and then nothing, stop in the middle of a body or drip; a connect that is
// never answered; and a stall timeout of 0, which never reconnects. And a
// download whose disk fills up: the item rests with the reason, said once,
// stays resting through the scheduler's passes, and once there is room a
// requeue brings the whole file.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "tests/core/manager_fixture.h"
#include "tests/support/small_disk.h"

namespace torvane::test {
namespace {

using namespace ::testing;
using namespace std::chrono_literals;

enum class Fault { kSilentHead, kSilent, kHeaderOnly, kMidBody, kDrip };

class StallTest : public ManagerTest {
 protected:
  void SetUp() override { set_ini("[SETTING]\nLogView=0\n"); }
  // `path` answers as a static file whose HEADs (kSilentHead) or GETs have
  // `fault`: all of them, or only the first `faulty` ones. Counts them.
  std::shared_ptr<std::atomic<int>> serve_faulty(const std::string& path, Fault fault,
                                                 std::shared_ptr<const std::string> body,
                                                 int faulty = 1 << 30) {
    auto count = std::make_shared<std::atomic<int>>(0);
    handle(path, [=](const HttpRequest& r) {
      HttpReply reply = resource_reply(r, body);
      if ((r.method == "HEAD") != (fault == Fault::kSilentHead) || ++*count > faulty) return reply;
      if (fault <= Fault::kSilent) return HttpReply::silence();
      reply.hold = true;  // the server never closes: only the stall rule ends it
      if (fault == Fault::kDrip) reply.drip = 200ms;
      if (fault != Fault::kDrip)
        reply.send_limit = reply.head.size() + (fault == Fault::kMidBody ? reply.body_size / 2 : 0);
      return reply;
    });
    return count;
  }
  // Ticks as the front end does (here every 5 ms) until `done`.
  template <class F>
  bool ticking_until(DownloadManager& manager, F done) {
    return wait_until([&] {
      manager.tick(clock_.tick_ms());
      return done();
    });
  }
  // Until the items of the list have failed, all `n` of them.
  bool all_fail(DownloadManager& m, std::size_t n = 1) {
    return ticking_until(m, [&] { return states(m) == std::vector<int>(n, kFailed); });
  }
};

TEST_F(StallTest, AStalledDivisionIsReconnectedAndUsesAnAttempt) {
  // Two attempts, and a floor that a drip of 5 bytes a second stays under.
  profile("StallTimeout=1\nMinSpeed=100\nRetry=2\n");
  const auto body = content(20000, 4);
  struct Case {
    Fault fault;
    int divisions;
    bool recovers;  // the retry of each division is answered in full
    const char* note;
  } const cases[] = {
      {Fault::kSilentHead, 1, false, "stalled: no data for 1 s (division 0)"},
      {Fault::kSilent, 4, true, "stalled: no data for 1 s (division "},
      {Fault::kHeaderOnly, 1, true, "stalled: no data for 1 s (division 0)"},
      {Fault::kMidBody, 1, false, "stalled: no data for 1 s (division 0)"},
      {Fault::kDrip, 4, false, "too slow: "},
  };
  for (const Case& c : cases) {
    const std::string name = "s" + std::to_string(&c - cases);
    SCOPED_TRACE(name);
    const int targets = c.fault == Fault::kSilentHead ? 1 : c.divisions;
    auto faults = serve_faulty("/" + name, c.fault, body, c.recovers ? targets : 1 << 30);
    auto manager = start(clock_, 2);
    manager->register_item(std::to_string(c.divisions), out(), server_.url("/" + name));
    if (c.recovers) {
      ASSERT_TRUE(ticking_until(*manager, [&] { return states(*manager).empty(); }));
      EXPECT_EQ(saved(name), *body);
    } else {
      ASSERT_TRUE(all_fail(*manager));
      EXPECT_THAT(reason(*manager, 0), StartsWith(c.note));
      // Each faulty division had its two attempts.
      EXPECT_EQ(*faults, 2 * targets);
    }
    EXPECT_THAT(seen(*manager).log, HasSubstr(c.note));
    manager.reset();
    view_.log.clear();
  }
}

// Both with two attempts: a connect never answered, and a GET never
// answered whose retry is a redirect without a target, which the engine
// reports after the stall.
TEST_F(StallTest, AnUnansweredConnectAndAnEngineMessageAfterAStallSayWhy) {
  profile("StallTimeout=1\nRetry=2\n");
  handle("/f", [gets = std::make_shared<int>(0)](const HttpRequest& r) {
    if (r.method != "GET") return resource_reply(r, content(1000));
    return ++*gets == 1 ? HttpReply::silence() : status_reply(302, "Found");
  });
  const UnansweredPort port;
  ASSERT_NE(port.port(), 0);
  auto manager = start(clock_, 2);
  manager->register_item("1", out(), "http://127.0.0.1:" + std::to_string(port.port()) + "/x");
  manager->register_item("1", out(), server_.url("/f"));
  ASSERT_TRUE(all_fail(*manager, 2));
  const std::string note = "stalled: not connected after 1 s (division 0)";
  EXPECT_THAT(seen(*manager).log, HasSubstr(note));
  EXPECT_EQ(reason(*manager, 0) + "|" + reason(*manager, 1),
            note +
                "|stalled: no data for 1 s (division 0); then: The server answered 302 (a "
                "redirection) without a Location");
}

// /held's division 0 gets its whole range at once and its connection is
// kept open while division 1 drips in over two seconds; the host 127.1
// never stalls (StallTimeout=0) where the default profile stalls after a
// second, as /once does. One attempt each: a stall would fail the item.
TEST_F(StallTest, NoStallForADivisionWithAllItsBytesOrUnderATimeoutOfZero) {
  profile("StallTimeout=1\nMinSpeed=0\nRetry=1\n");
  const std::string host = other_host("StallTimeout=0\n");
  const auto body = content(80, 3);
  handle("/held", [=](const HttpRequest& r) {
    HttpReply reply = resource_reply(r, body);
    reply.hold = true;
    if (r.range_start() > 0) reply.drip = 50ms;
    return reply;
  });
  auto never = serve_faulty("/never", Fault::kSilent, content(1000));
  serve_faulty("/once", Fault::kSilent, content(1000));
  auto manager = start(clock_, 3);
  manager->register_item("2", out(), server_.url("/held"));
  manager->register_item("1", out(), host + "/never");
  manager->register_item("1", out(), server_.url("/once"));
  ASSERT_TRUE(ticking_until(*manager, [&] {
    return states(*manager) == std::vector<int>{kDownloading, kFailed};
  }));
  EXPECT_EQ(saved("held"), *body);
  // As long again, and /never is still waiting for its first answer.
  const auto until = std::chrono::steady_clock::now() + 1200ms;
  ticking_until(*manager, [&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(std::tuple(states(*manager), never->load(), reason(*manager, 0),
                       occurrences(seen(*manager).log, "stalled")),  // /once's
            std::tuple(std::vector<int>{kDownloading, kFailed}, 1, "", 1u));
}

class DiskFullTest : public ManagerTest {
 protected:
  DiskFullTest() { std::filesystem::create_directories(dir_ / "out"); }

  // Runs one 4-division item into out/f.bin until it rests, calls
  // `make_room`, requeues it and waits for the finished file.
  void rest_then_finish(const std::function<void()>& make_room) {
    set_ini("[SETTING]\nLogView=0\n");  // the header log is kept
    const auto body = content(1 << 20, 5);
    serve("/f.bin", body);
    auto manager = start(clock_, 2);
    manager->register_item("4", out(), server_.url("/f.bin"));
    ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kResting}; }))
        << "states: " << testing::PrintToString(states(*manager));
    const std::string said = "disk full: " + out() + "f.bin";
    const Seen shown = seen(*manager);
    EXPECT_EQ(std::tuple(reason(*manager, 0), shown.messages, occurrences(shown.log, said)),
              std::tuple(said, std::vector<std::string>{"Error: " + said}, 1u));
    // Slots freed and the list idle: nothing starts the resting item. GETs
    // sent before the stop may still reach the server; no more come.
    manager->scheduler_pass(-1, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(states(*manager), std::vector<int>{kResting});
    EXPECT_LE(server_.request_count(), 5u);  // a HEAD and one GET per division

    make_room();
    manager->scheduler_pass(-1, true);
    EXPECT_TRUE(wait_until([&] { return states(*manager).empty(); }));
    EXPECT_EQ(saved("f.bin"), *body);
    EXPECT_LE(server_.request_count(), 10u);
    manager->end(5000);
  }
};

// A device that takes no byte: the item rests without a record to resume
// and starts afresh once the name points at a file.
TEST_F(DiskFullTest, DeviceWithoutRoomRestsTheItem) {
  const std::string target = out() + "f.bin";
  ASSERT_EQ(::symlink("/dev/full", target.c_str()), 0);
  rest_then_finish([&] { std::remove(target.c_str()); });
}

// A small disk keeps what it took; grown, the item goes on from there.
TEST_F(DiskFullTest, SmallDiskRestsTheItemAndTheResumeCompletesIt) {
  SmallDisk disk(dir_ / "out", 256 << 10);
  if (!disk.mounted()) GTEST_SKIP() << disk.why_not();
  rest_then_finish([&] { ASSERT_TRUE(disk.resize(4 << 20)); });
}

}  // namespace
}  // namespace torvane::test
