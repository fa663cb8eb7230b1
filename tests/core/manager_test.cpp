// The download manager against the real engine and a scripted loopback
// server: scheduling under the limit, stop and resume across a restart, the
// ending, link jumps, progress texts and the timed shutdown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gui/shell/item_list_file.h"
#include "gui/shell/progress_text.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Ne;

TEST_F(ManagerTest, StartsAtMostTheLimitAndTheNextWaitingItemInListOrder) {
  std::vector<std::shared_ptr<Gate>> gates;
  for (int i = 0; i < 5; ++i) gates.push_back(serve("/f" + std::to_string(i), content(5000 + i), 100));
  auto manager = start(clock_, 2);
  for (int i = 0; i < 5; ++i) manager->register_item("1", out(), server_.url("/f" + std::to_string(i)));
  // The two started ones move on by themselves (initialising, probing...).
  EXPECT_THAT(states(*manager), ElementsAre(Ne(kWaiting), Ne(kWaiting), kWaiting, kWaiting, kWaiting));

  gates[0]->open();  // the first finishes; its freed slot goes to the next in list order
  // The finished item leaves the list first; its slot is handed on once free.
  ASSERT_TRUE(wait_until([&] {
    const auto s = states(*manager);
    return s.size() == 4 && s[1] != kWaiting;
  }));
  const auto s = states(*manager);  // f1 .. f4 now
  EXPECT_EQ(s[2], kWaiting);
  EXPECT_EQ(s[3], kWaiting);
  for (auto& gate : gates) gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(saved("f" + std::to_string(i)), *content(5000 + i)) << i;
  }
}

TEST_F(ManagerTest, StartAllRequeuesARestingItemThatCountsAgainstTheLimit) {
  std::vector<std::shared_ptr<Gate>> gates;
  for (int i = 0; i < 4; ++i) gates.push_back(serve("/f" + std::to_string(i), content(3000), 10));
  auto manager = start(clock_, 2);
  manager->register_item("1", out(), server_.url("/f0"));
  manager->stop_item(0);  // stopped while running: it rests once the engine says so
  ASSERT_TRUE(wait_until([&] { return states(*manager)[0] == kResting; }));
  for (int i = 1; i < 4; ++i) manager->register_item("1", out(), server_.url("/f" + std::to_string(i)));
  manager->stop_item(2);
  manager->stop_item(3);
  ASSERT_TRUE(wait_until([&] {
    const auto s = states(*manager);
    return s[2] == kResting && s[3] == kResting;
  }));
  // The resting item goes first; the pass starts two in list order.
  manager->scheduler_pass(-1, true);
  const auto s = states(*manager);
  EXPECT_NE(s[0], kWaiting);
  EXPECT_NE(s[1], kWaiting);
  EXPECT_EQ(s[2], kWaiting);
  EXPECT_EQ(s[3], kWaiting);
  // One selected item at the limit: requeued, refused a slot, nothing else moves.
  manager->stop_item(3);
  manager->scheduler_pass(3, true);
  EXPECT_EQ(states(*manager)[3], kWaiting);
  EXPECT_EQ(states(*manager)[2], kWaiting);
  for (auto& gate : gates) gate->open();
}

TEST_F(ManagerTest, StoppedDownloadResumesInAFreshManagerToTheSameBytes) {
  const auto body = content(400000, 3);
  // Each division's answer holds after 50000 bytes: one 40000-byte share
  // reaches the file, the rest waits in the buffer.
  auto gate = serve("/big.bin", body, 50000);
  {
    auto manager = start(clock_, 4);
    manager->register_item("4", out(), server_.url("/big.bin"));
    // Stopped once every division has bytes in the file, so each has
    // something to go on from.
    ASSERT_TRUE(wait_until([&] {
      const std::string part = saved("big.bin");
      for (std::size_t at = 0; at < 400000; at += 100000) {
        if (part.size() < at + 1000 || part.compare(at, 1000, *body, at, 1000) != 0) return false;
      }
      return true;
    }));
    manager->stop_item(0);
    ASSERT_TRUE(wait_until([&] { return states(*manager)[0] == kResting; }));
    EXPECT_TRUE(manager->with_items([](const ItemList& l) { return l.at(0)->saved != nullptr; }));
    EXPECT_EQ(manager->end(10000), 0);
  }
  const std::size_t before = server_.request_count();
  gate->open();
  auto manager = start(clock_, 4);
  ASSERT_EQ(manager->load_list(), 0);
  ASSERT_EQ(states(*manager), std::vector<int>{kResting});
  EXPECT_EQ(manager->with_items([](const ItemList& l) { return std::string(l.at(0)->division_text); }),
            "4");
  manager->scheduler_pass(-1, true);
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("big.bin"), *body);
  // Every division went on from where it stopped: no range starts at 0 again.
  const auto requests = server_.requests();
  for (std::size_t i = before; i < requests.size(); ++i) {
    EXPECT_NE(requests[i].range_start(), 0) << requests[i].raw;
  }
  EXPECT_EQ(manager->end(), 0);
  EXPECT_EQ(read_file(list_file()).value_or("missing"), "");  // an empty list is a 0-byte file
}

TEST_F(ManagerTest, EndingStopsRunningItemsAndSavesThemWithoutStartingWaitingOnes) {
  std::vector<std::shared_ptr<Gate>> gates;
  for (int i = 0; i < 4; ++i) gates.push_back(serve("/f" + std::to_string(i), content(200000), 20000));
  auto manager = start(clock_, 3);
  for (int i = 0; i < 4; ++i) manager->register_item("2", out(), server_.url("/f" + std::to_string(i)));
  ASSERT_TRUE(wait_until([&] {
    const auto s = states(*manager);
    return s[0] == kDownloading && s[1] == kDownloading && s[2] == kDownloading;
  }));
  EXPECT_EQ(manager->end(10000), 0);
  ItemList list;
  EngineBinding reader;  // the records are read back with the engine's heap
  ASSERT_EQ(reader.bind({TORVANE_ENGINE_LIBRARY}, nullptr, 1, 20), 0);
  ASSERT_EQ(read_item_list(list_file(), list, reader.api()), 0);
  ASSERT_EQ(list.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.at(i)->state, kResting);
    EXPECT_NE(list.at(i)->saved, nullptr);
  }
  EXPECT_EQ(list.at(3)->state, kWaiting);
  EXPECT_EQ(list.at(3)->saved, nullptr);
  list.clear();
}

TEST_F(ManagerTest, EndingWithOnlyWaitingItemsWritesTheListAtOnce) {
  auto gate = serve("/w", content(100), 0);
  auto manager = start(clock_, 1);
  manager->register_item("1", out(), server_.url("/w"));
  manager->register_item("1", out(), server_.url("/w2"));  // waits behind the limit
  manager->stop_item(0);
  ASSERT_TRUE(wait_until([&] { return states(*manager)[0] == kResting; }));
  EXPECT_EQ(manager->end(5000), 0);
  const std::string file = read_file(list_file()).value_or("");
  EXPECT_EQ(file.rfind("Torvane idata Ver0.0\r\n\r\n", 0), 0u);
  EXPECT_NE(file.find(server_.url("/w2")), std::string::npos);
}

TEST_F(ManagerTest, TickSavesTheQueueAfterAChangeAtMostOnceASecondWithRunningItemsAsWaiting) {
  auto gate = serve("/slow", content(50000), 100);
  serve("/quick", content(10));
  auto manager = start(clock_, 2);
  manager->register_item("1", out(), server_.url("/quick"));
  manager->register_item("1", out(), server_.url("/slow"));
  ASSERT_TRUE(wait_until([&] { return states(*manager).size() == 1; }));  // quick finished
  manager->tick(5000);
  EngineBinding reader;
  ASSERT_EQ(reader.bind({TORVANE_ENGINE_LIBRARY}, nullptr, 1, 20), 0);
  const auto stored = [&] {
    ItemList list;
    read_item_list(list_file(), list, reader.api());
    std::vector<std::pair<std::string, int>> out;
    for (std::size_t i = 0; i < list.size(); ++i) out.emplace_back(list.at(i)->url, list.at(i)->state);
    return out;
  };
  // A killed program comes back with the running item waiting, the finished one gone.
  EXPECT_EQ(stored(), (std::vector<std::pair<std::string, int>>{{server_.url("/slow"), kWaiting}}));
  manager->register_item("1", out(), server_.url("/later"));
  manager->tick(5500);  // within the second: not yet
  EXPECT_EQ(stored().size(), 1u);
  manager->tick(6000);
  EXPECT_EQ(stored().size(), 2u);
  gate->open();
}

TEST_F(ManagerTest, ARaisedLimitIsAnsweredAndUsedByTheNextPass) {
  std::vector<std::shared_ptr<Gate>> gates;
  for (int i = 0; i < 3; ++i) gates.push_back(serve("/f" + std::to_string(i), content(2000), 10));
  auto manager = start(clock_, 1);
  for (int i = 0; i < 3; ++i) manager->register_item("1", out(), server_.url("/f" + std::to_string(i)));
  EXPECT_THAT(states(*manager), ElementsAre(Ne(kWaiting), kWaiting, kWaiting));
  ASSERT_EQ(manager->change_limit(3), 0);
  ASSERT_TRUE(wait_until([&] { return !view_.limit_answers().empty(); }));
  EXPECT_EQ(view_.limit_answers()[0], std::make_pair(1, 3));
  manager->scheduler_pass(-1, false);
  EXPECT_THAT(states(*manager), ElementsAre(Ne(kWaiting), Ne(kWaiting), Ne(kWaiting)));
  for (auto& gate : gates) gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
}

TEST_F(ManagerTest, MissingEngineShowsTheMessageAndLeavesTheListFileAlone) {
  ASSERT_TRUE(write_file(list_file(), "keep"));
  ManagerConfig c = config();
  c.library_candidates = {dir_ / "nowhere/libtorvane.so"};
  DownloadManager manager(std::move(c), view_, clock_);
  EXPECT_EQ(manager.start_up(), -1);
  EXPECT_THAT(view_.messages(), ElementsAre("error: Torvane.DLLの初期化失敗"));
  EXPECT_EQ(manager.end(), -1);
  EXPECT_EQ(read_file(list_file()), "keep");
}

TEST_F(ManagerTest, LinkJumpReplacesTheUrlAndRequeuesTheItem) {
  const auto file = content(7000, 9);
  serve("/file.bin", file);
  const std::string link = server_.url("/file.bin");
  serve("/page.html", std::make_shared<const std::string>("<a href=\"" + link + "\">x</a>"));
  // The page's host (by name) jumps; the linked host (by address) does not.
  const std::string page = "http://localhost:" + link.substr(link.rfind(':') + 1, 5);
  const std::string host = page.substr(7, page.find('/', 7) - 7);
  ASSERT_TRUE(write_file(home() + "/Servers.ini", "[ServerData]\n" + host + "=Servers\\jump.ini\n"));
  ASSERT_TRUE(write_file(home() + "/Servers/jump.ini", "[TVNBASICDATA]\nurljump=1\nskip=1\n"));
  auto manager = start(clock_, 2);
  manager->register_item("1", out(), page.substr(0, page.find('/', 7)) + "/page.html");
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("file.bin"), *file);
  EXPECT_FALSE(path_exists(out() + "page.html"));
}

TEST_F(ManagerTest, ProgressAndDetailRowsOfARunningItem) {
  view_.focused = 0;
  auto gate = serve("/three", content(90000), 1000);
  auto manager = start(clock_, 2);
  manager->register_item("3", out(), server_.url("/three"));
  ASSERT_TRUE(wait_until([&] {
    const auto rows = view_.detail();
    return rows.size() == 3 && rows[2].find("1000 / 30000 (3%)") != std::string::npos;
  }));
  EXPECT_EQ(view_.detail()[0], "000/Status:ＤＬ | Try 01/05 | 1000 / 30000 (3%)");
  // Speeds from reconnects with fewer bytes than before are never negative.
  for (int i = 0; i < 3; ++i) {
    manager->reconnect_item(0);
    manager->tick(clock_.tick_ms());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  const std::string speed =
      manager->with_items([](const ItemList& l) { return std::string(l.at(0)->speed); });
  EXPECT_EQ(speed.find('-'), speed == "-- bps" ? 0u : std::string::npos) << speed;
  EXPECT_NE(view_.status(1).find("Item:001("), std::string::npos);
  gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
}

TEST_F(ManagerTest, TimedShutdownFiresOnlyOnAnEmptyListAtTheMatchingMinuteAndOnlyOnce) {
  set_ini("[SETTING]\nShutDown=2\nHowtoSD=2\n[SDTIME]\nYear=9999\nMonth=9999\nDay=9999\n"
          "Hour=23\nMinute=30\nSecond=9999\n");
  ManualClock clock(LocalTime{2026, 12, 0, 6, 23, 29, 50, 0});
  serve("/x", content(10), 0);
  auto manager = start(clock, 1);
  const auto calls = [&] { return manager->with_items([&](const ItemList&) { return power_.calls; }); };
  manager->tick(1000);
  EXPECT_TRUE(calls().empty());  // wrong minute
  manager->register_item("1", out(), server_.url("/x"));
  clock.set(LocalTime{2026, 12, 0, 6, 23, 30, 5, 0});
  manager->tick(2000);
  EXPECT_TRUE(calls().empty());  // the list is not empty
  manager->remove_item(0, RemoveMode::kRedraw);
  manager->tick(3000);
  const RecordingPower::Call power_off{RecordingPower::Kind::kExitSession,
                                       PowerBackend::Action::kPowerOff, false, false};
  EXPECT_EQ(calls(), std::vector<RecordingPower::Call>{power_off});
  manager->tick(4000);  // a second trigger in the same run does nothing
  EXPECT_EQ(calls().size(), 1u);
  EXPECT_TRUE(view_.messages().empty());
}

TEST_F(ManagerTest, HeaderLogAndHistoryOfAFinishedDownload) {
  set_ini("[SETTING]\nLogView=0\nWriteLog=1\n");
  const auto body = content(90000, 5);
  serve("/three.bin", body);
  auto manager = start(clock_, 2);
  manager->register_item("3", out(), server_.url("/three.bin"));
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("three.bin"), *body);
  const std::string log = view_.log();
  EXPECT_EQ(log.rfind("HTTPリクエスト(head)  - (L:0 S:0 D:0)\r\nHEAD /three.bin HTTP/1.0\r\n", 0), 0u);
  for (const char* title : {"HTTPヘッダ　　(head)  - (L:0 S:0 D:0)\r\nHTTP/1.0 200",
                            "HTTPリクエスト(get)/D - (L:0 S:0 D:2)\r\nGET /three.bin",
                            "HTTPヘッダ　　(get)/D - (L:0 S:0 D:1)\r\nHTTP/1.0 206"}) {
    EXPECT_NE(log.find(title), std::string::npos) << title;
  }
  std::size_t separators = 0;
  for (std::size_t at = 0; (at = log.find("/* == 区切り == */\r\n", at)) != std::string::npos; ++at) {
    ++separators;
  }
  EXPECT_EQ(separators, 8u);  // HEAD, its header, three GETs and their headers
  const HistoryList history = load_history_file((dir_ / "tvnlog.txt").c_str());
  ASSERT_EQ(history.rows.size(), 1u);
  EXPECT_EQ(history.rows[0].cells[kColFilename], "three.bin");
  EXPECT_EQ(history.rows[0].cells[kColSize], "90000");
  EXPECT_EQ(history.rows[0].cells[kColDivide], "3");
}

TEST(ProgressText, SpeedsSizesAndDetailRows) {
  EXPECT_EQ(format_speed(0.5, false), "500.0byte/s");
  EXPECT_EQ(format_speed(1500, false), " 1.5Mbyte/s");
  EXPECT_EQ(format_speed(0.1, true), "800.0bps");
  EXPECT_EQ(format_speed(2.0e6, true), "16.0Gbps");
  EXPECT_EQ(progress_text(1234, 0), "1234");
  EXPECT_EQ(progress_text(1, 3), "1 / 3 (33%)");
  EXPECT_EQ(detail_row_text(0, 0, 5, 5, 0, 0), "000/Status:待機 | Try 05/05");
  EXPECT_EQ(detail_row_text(12, 206, 4, 5, 50, 200), "012/Status:ＤＬ | Try 04/05 | 50 / 200 (25%)");
}

}  // namespace
}  // namespace torvane::test
