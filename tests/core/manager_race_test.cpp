// The download manager against the engine's threads, meant to run under
// ThreadSanitizer: a pass between a link page's end and its slot's final
// notice, the ending while a notice is still under way, a queued resume
// started twice, and all of it at once with redirects written while the
// list is read.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <random>
#include <utility>

#include "cli/progress_lines.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

using namespace ::testing;
using namespace std::chrono_literals;

// Runs a test's code on the engine thread right before or after the manager
// answers a notice, without its lock, as another front-end thread might.
// Declared before the manager it taps, so it outlives the engine threads;
// installed before any item starts.
class NoticeTap {
 public:
  using Hook = std::function<void(int code)>;
  ~NoticeTap() { current_.store(nullptr); }
  void install(DownloadManager& manager, Hook before, Hook after = {}) {
    before_ = std::move(before);
    after_ = std::move(after);
    current_.store(this);
    manager.context().callback = &NoticeTap::entry;
  }

 private:
  static int entry(EngineContext* ctx, int code, int slot, int div, void* data) {
    NoticeTap* tap = current_.load();
    if (tap != nullptr && tap->before_) tap->before_(code);
    const int answer = DownloadManager::notice_entry(ctx, code, slot, div, data);
    if (tap != nullptr && tap->after_) tap->after_(code);
    return answer;
  }
  static inline std::atomic<NoticeTap*> current_{nullptr};
  Hook before_, after_;
};

class ManagerRaceTest : public ManagerTest {
 protected:
  // What torvane-get records: the list as it polls it, each finished item's last row.
  struct Recorder {
    std::mutex mutex;
    std::vector<cli::RowSnapshot> finished;
    cli::RunRecord record;
    void observe(DownloadManager& manager) {
      auto rows = manager.with_items([](const ItemList& l) { return cli::snapshot_rows(l); });
      std::lock_guard<std::mutex> lock(mutex);
      record.observe(rows);
      for (auto& row : std::exchange(finished, {})) {
        row.state = kFinished;
        record.observe({row});
      }
    }
  };
  std::unique_ptr<DownloadManager> start_recorded(int limit, Recorder& recorder) {
    ManagerConfig c = config(limit);
    c.finished = [&recorder](const ListItem& item) {
      std::lock_guard<std::mutex> lock(recorder.mutex);
      recorder.finished.push_back(cli::snapshot_row(item));
    };
    auto manager = std::make_unique<DownloadManager>(std::move(c), view_, clock_);
    EXPECT_EQ(manager->start_up(), 0);
    return manager;
  }
  std::size_t history_count(const std::string& name) {
    return occurrences(read_file(dir_ / "tvnlog.txt").value_or(""), "Filename: " + name + "\t");
  }
};

TEST_F(ManagerRaceTest, APassBetweenALinkPagesEndAndItsFinalNoticeLeavesTheItemQueued) {
  set_ini("[SETTING]\nWriteLog=1\n");
  auto gate = serve("/linked.bin", content(9000, 4), 100);
  serve_link_page("/page.html", server_.url("/linked.bin"));
  const std::string page = other_host("urljump=1\nskip=1\n") + "/page.html";
  NoticeTap tap;
  auto manager = start(clock_, 2);
  std::atomic<int> passes{0};
  DownloadManager* m = manager.get();
  tap.install(*manager, {}, [&, m](int code) {
    if (code != TVN_NOTICE_MEMORY_DONE) return;
    m->scheduler_pass(-1, false);
    m->scheduler_pass(-1, true);
    m->start_item(0);
    ++passes;
  });
  manager->register_item("2", out(), page);
  // The item starts on its link once and stays in the list while that download is held.
  ASSERT_TRUE(wait_until([&] {
    return std::ranges::any_of(
        server_.requests(), [](auto& q) { return q.method == "GET" && q.target == "/linked.bin"; });
  }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(passes.load(), 1);
  EXPECT_THAT(states(*manager), ElementsAre(AllOf(Ge(kInitialising), Le(kDownloading))));
  gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("linked.bin"), *content(9000, 4));
  EXPECT_EQ(history_count("linked.bin"), 1u);
  EXPECT_EQ(manager->end(), 0);
}

TEST_F(ManagerRaceTest, TheEndingWhileAStopNoticeIsUnderWay) {
  serve("/held.bin", content(200000), 1000);
  NoticeTap tap;
  auto manager = start(clock_, 1);
  std::atomic<bool> held{false};
  // The stop's notice reaches the manager only once the ending has given up waiting.
  tap.install(*manager, [&](int code) {
    if (code != TVN_NOTICE_STOPPED || held.exchange(true)) return;
    std::this_thread::sleep_for(1500ms);
  });
  manager->register_item("1", out(), server_.url("/held.bin"));
  ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kDownloading}; }));
  EXPECT_EQ(manager->end(300), -1);
  EXPECT_TRUE(held.load());
}

// Started again by a second pass while another item holds the one slot.
TEST_F(ManagerRaceTest, AQueuedResumeStartedAgainResumesAndFinishes) {
  set_ini("[SETTING]\nWriteLog=1\n");
  const auto body = content(400000, 20);
  // Held past one buffer share: every division has bytes in the file to go on from.
  auto gate = serve("/queued.bin", body, 50000);
  auto other = serve("/other.bin", content(3000), 100);
  auto manager = start(clock_, 1);
  manager->register_item("4", out(), server_.url("/queued.bin"));
  ASSERT_TRUE(has_bytes_at(out() + "queued.bin", *body, {0, 100000, 200000, 300000}));
  ASSERT_TRUE(stop_first(*manager));
  const std::size_t stopped_at = server_.request_count();
  manager->register_item("1", out(), server_.url("/other.bin"));
  ASSERT_TRUE(wait_until([&] { return states(*manager).back() != kWaiting; }));
  manager->scheduler_pass(0, true);
  manager->scheduler_pass(0, true);
  gate->open();
  other->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("queued.bin"), *body);
  EXPECT_EQ(history_count("queued.bin"), 1u);
  const auto requests = server_.requests();
  for (std::size_t q = stopped_at; q < requests.size(); ++q)
    EXPECT_TRUE(requests[q].target != "/queued.bin" || requests[q].range_start() != 0);
  EXPECT_EQ(manager->end(), 0);
}

// Plain files, redirects and link jumps at once, stopped, requeued and
// under a raised limit while the list is read and saved: every item
// finishes once, with its file whole.
TEST_F(ManagerRaceTest, StopsResumesRedirectsJumpsAndALimitChangeAtOnce) {
  set_ini("[SETTING]\nWriteLog=1\n");
  constexpr int kEach = 5;
  std::vector<std::string> names, urls;
  std::vector<std::shared_ptr<Gate>> gates;
  const std::string jump = other_host("urljump=1\nskip=1\n");
  for (int i = 0; i < kEach; ++i) {
    const std::string n = std::to_string(i);
    for (const std::string& name :
         {"plain" + n + ".bin", "moved" + n + ".bin", "linked" + n + ".bin"}) {
      names.push_back(name);
      gates.push_back(serve("/" + name, content(60000 + names.size() * 1000, names.size()), 30000));
    }
    urls.push_back(server_.url("/plain" + n + ".bin"));
    // Held: the redirect is written while the list is read and saved.
    gates.push_back(serve_redirect("/r" + n, server_.url("/moved" + n + ".bin")));
    urls.push_back(server_.url("/r" + n));
    serve_link_page("/page" + n + ".html", server_.url("/linked" + n + ".bin"));
    urls.push_back(jump + "/page" + n + ".html");
  }
  Recorder recorder;
  auto manager = start_recorded(2, recorder);
  std::atomic<bool> done{false};
  // The front end: the progress lines, the tick and its list save.
  std::thread reader([&] {
    while (!done.load()) {
      recorder.observe(*manager);
      manager->tick(clock_.tick_ms());
      std::this_thread::sleep_for(3ms);
    }
  });
  for (const std::string& url : urls) manager->register_item("2", out(), url);
  // The user stops items at random (not a link page: a page is not resumed),
  // starts everything again, raises the limit once, lets held answers go.
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    const int k = static_cast<int>(random() % urls.size());
    const bool page = manager->with_items([&](const ItemList& l) {
      const ListItem* item = l.at(k);
      return item != nullptr && std::string_view(item->file_name).ends_with(".html");
    });
    if (!page) manager->stop_item(k);
    if (round % 3 == 0) manager->scheduler_pass(-1, true);
    if (round == 15) {
      EXPECT_EQ(manager->change_limit(5), 0);
    }
    if (static_cast<std::size_t>(round) < gates.size()) gates[round]->open();
    std::this_thread::sleep_for(10ms);
  }
  for (auto& gate : gates) gate->open();
  // Stops still on their way rest their items after the last pass above.
  const bool emptied = wait_until([&] {
    manager->scheduler_pass(-1, true);
    return states(*manager).empty();
  });
  done.store(true);
  reader.join();
  ASSERT_TRUE(emptied) << manager->engine_status(false);
  recorder.observe(*manager);
  const auto outcomes = recorder.record.outcomes({});
  ASSERT_EQ(outcomes.size(), urls.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(saved(names[i]), *content(60000 + (i + 1) * 1000, i + 1));
    EXPECT_EQ(history_count(names[i]), 1u);
  }
  std::vector<std::string> paths;
  for (const auto& o : outcomes) {
    EXPECT_EQ(o.state, kFinished);
    paths.push_back(o.path.substr(out().size()));
  }
  EXPECT_THAT(paths, UnorderedElementsAreArray(names));
  EXPECT_EQ(manager->end(), 0);
}

}  // namespace
}  // namespace torvane::test
