// The download manager against the real engine and a scripted loopback
// server: scheduling under the limit, a stop before the first answer, what a
// download shows, the timed shutdown and the idle start; and settings that
// cannot work, brought into range and said once.
#include <gmock/gmock.h>

#include <ranges>

#include "core/queue/item_list_file.h"
#include "core/queue/item_lookup.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

using namespace ::testing;
const auto path = [](int i) { return "/f" + std::to_string(i); };

TEST_F(ManagerTest, SchedulingUnderTheLimit) {
  std::vector<std::shared_ptr<Gate>> gates;
  for (int i = 0; i < 5; ++i) gates.push_back(serve(path(i), content(5000 + i), 100));
  auto manager = start(clock_, 2);
  for (int i = 0; i < 5; ++i) manager->register_item("1", out(), server_.url(path(i)));
  const auto run = Ne(kWaiting);
  EXPECT_THAT(states(*manager), ElementsAre(run, run, kWaiting, kWaiting, kWaiting));
  // f0 finishes and leaves the list; its slot goes to the next in list order.
  gates[0]->open();
  const auto two_run = ElementsAre(run, run, kWaiting, kWaiting);
  ASSERT_TRUE(wait_until([&] { return Value(states(*manager), two_run); }));
  // f1 stopped while running, f3 and f4 while waiting: all rest.
  for (int k : {3, 2, 0}) manager->stop_item(k);
  ASSERT_TRUE(wait_until(
      [&] { return Value(states(*manager), ElementsAre(kResting, _, kResting, kResting)); }));
  // A start-all pass requeues the resting items; f1 comes first and fills the limit.
  manager->scheduler_pass(-1, true);
  EXPECT_THAT(states(*manager), two_run);
  // One item at the limit: requeued, refused a slot, nothing else moves.
  manager->stop_item(3);
  manager->scheduler_pass(3, true);
  EXPECT_THAT(states(*manager), two_run);
  for (auto& gate : gates) gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(saved(path(i).substr(1)), *content(5000 + i)) << i;
}

TEST_F(ManagerTest, MissingEngineShowsTheMessageAndLeavesTheListFileAlone) {
  ASSERT_TRUE(write_file(list_file(), "keep"));
  DownloadManager manager(config(0, dir_ / "nowhere/libtorvane.so"), view_, clock_);
  EXPECT_EQ(manager.start_up(), -1);
  EXPECT_THAT(view_.messages, ElementsAre("error: Torvane.DLLの初期化失敗"));
  EXPECT_EQ(manager.end(), -1);
  EXPECT_EQ(read_file(list_file()), "keep");
}

TEST_F(ManagerTest, AnItemStoppedBeforeItsFirstAnswerStartsAfreshUnderTheRedirectedName) {
  const auto body = content(20000);
  serve("/moved.bin", body);
  auto gate = serve_redirect("/r", server_.url("/moved.bin"));
  auto manager = start(clock_, 2);
  manager->register_item("2", out(), server_.url("/r"));
  // Stopped while its probe waits for the redirect.
  ASSERT_TRUE(server_.wait_for_requests(1, std::chrono::seconds(10)));
  ASSERT_TRUE(stop_first(*manager));
  gate->open();
  manager->scheduler_pass(-1, true);
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("moved.bin"), *body);
  EXPECT_EQ(saved("r"), "<none>");
}

TEST_F(ManagerTest, ARunningThenFinishedDownloadShowsRowsHeaderLogAndHistory) {
  set_ini("[SETTING]\nLogView=0\nWriteLog=1\n");
  auto gate = serve("/three.bin", content(90000, 5), 1000);
  auto manager = start(clock_, 2);
  manager->register_item("3", out(), server_.url("/three.bin"));
  const auto rows = ElementsAre("000/Status:ＤＬ | Try 01/05 | 1000 / 30000 (3%)",
                                EndsWith("1000 / 30000 (3%)"), EndsWith("1000 / 30000 (3%)"));
  ASSERT_TRUE(wait_until([&] { return Value(seen(*manager).detail, rows); }));
  const std::string log = seen(*manager).log;
  EXPECT_THAT(log,
              StartsWith("HTTPリクエスト(head)  - (L:0 S:0 D:0)\r\nHEAD /three.bin HTTP/1.0\r\n"));
  // One separator after each of HEAD, its header, three GETs and their headers.
  auto pieces = log | std::views::split(std::string_view("/* == 区切り == */\r\n"));
  EXPECT_EQ(std::ranges::distance(pieces), 9);
  manager->tick(clock_.tick_ms());
  EXPECT_THAT(seen(*manager).status[1], StartsWith("Item:001("));
  gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_THAT(read_file(dir_ / "tvnlog.txt").value_or(""),
              HasSubstr("Filename: three.bin\tDivide: 3\r\n"));
}

TEST_F(ManagerTest, TimedShutdownFiresOnlyOnAnEmptyListAtTheMatchingMinuteAndOnlyOnce) {
  set_ini(
      "[SETTING]\nShutDown=2\nHowtoSD=2\n[SDTIME]\nYear=9999\nMonth=9999\nDay=9999\n"
      "Hour=23\nMinute=30\nSecond=9999\n");
  ManualClock clock(LocalTime{2026, 12, 0, 6, 23, 29, 50, 0});
  auto manager = start(clock, 1);
  const auto calls = [&] { return manager->with_items([&](auto&) { return power_.calls; }); };
  manager->tick(1000);
  EXPECT_THAT(calls(), IsEmpty());  // wrong minute
  manager->register_item("1", out(), server_.url("/x"));
  clock.set(LocalTime{2026, 12, 0, 6, 23, 30, 5, 0});
  manager->tick(2000);
  EXPECT_TRUE(calls().empty());  // the list is not empty
  manager->remove_item(0, RemoveMode::kRedraw);
  manager->tick(3000);
  manager->tick(4000);  // a second trigger in the same run does nothing
  EXPECT_THAT(calls(), ElementsAre("power off"));
}

TEST_F(ManagerTest, AWaitingItemWithNothingRunningStartsOnTheSecondIdleTick) {
  serve(path(0), content(3000));
  {
    ItemList list;
    ListItem& item = *list.at(static_cast<std::int64_t>(list.append(ItemList::Growth::kByOne)));
    set_field(item.url, server_.url(path(0)));
    set_field(item.save_folder, out());
    set_field(item.division_text, "1");
    ASSERT_EQ(write_item_list(list_file(), list, true), 0);
  }
  auto manager = start(clock_, 2);
  ASSERT_EQ(manager->load_list(), 0);
  // A slot-freed notice may still be on its way after the first idle tick.
  IdleStarter starter;
  EXPECT_FALSE(starter.on_tick(*manager));
  EXPECT_THAT(states(*manager), ElementsAre(kWaiting));
  EXPECT_TRUE(starter.on_tick(*manager));
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("f0"), *content(3000));
  EXPECT_FALSE(starter.on_tick(*manager));
}

using SettingsClampTest = ManagerTest;

// MaxDLFiles is brought into 1 to 999 with one message at start-up; a limit
// in the billions used to keep the engine from starting at all.
TEST_F(SettingsClampTest, MaxDlFilesIsBroughtIntoRangeOnceAtStartUp) {
  struct Row {
    std::string stored;
    int limit;
    bool said;
  } const rows[] = {{"MaxDLFiles=20\n", 20, false},
                    {"MaxDLFiles=0\n", 15, true},
                    {"MaxDLFiles=2147483647\n", 999, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored);
    set_ini("[SETTING]\n" + row.stored);
    view_.messages.clear();
    auto manager = start(clock_, 0);
    EXPECT_EQ(manager->with_settings([](ProgramSettings& s) { return s.max_dl_files; }), row.limit);
    const auto said = HasSubstr(std::to_string(row.limit) + " is used");
    EXPECT_THAT(seen(*manager).messages, AllOf(SizeIs(row.said ? 1 : 0), Each(said)));
    manager->end(5000);
  }
}

// A line of a megabyte neither breaks a read nor hides the keys after it;
// its value is cut between characters, never inside one.
TEST_F(SettingsClampTest, MegabyteIniLineIsCutAndTheKeysAfterItRead) {
  std::string long_value;
  while (long_value.size() < (1 << 20)) long_value += "\u3042";  // three bytes each
  set_ini("[SETTING]\nOtherName=" + long_value + "\nMaxDLFiles=7\nExistFile=2\n");
  auto manager = start(clock_, 0);
  const ProgramSettings s = manager->with_settings([](ProgramSettings& s) { return s; });
  EXPECT_EQ(std::tuple(s.max_dl_files, s.exist_file, s.other_name),
            std::tuple(7, 2, long_value.substr(0, (kTemplateTextSize - 1) / 3 * 3)));
  manager->end(5000);
}

}  // namespace
}  // namespace torvane::test
