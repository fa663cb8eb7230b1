// The calls the main window makes: deleting rows and every row, the detail
// rows of the clicked row (running or failed), the closing step, and the
// add-items panel's registrations.
#include <gmock/gmock.h>

#include "core/queue/add_items_panel.h"
#include "tests/core/manager_fixture.h"
#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

using namespace ::testing;

const auto path = [](int i) { return "/w" + std::to_string(i); };
const auto run = Ne(kWaiting);

int busy_slots(DownloadManager& manager) {
  EngineContext& context = manager.context();
  int busy = 0;
  for (int slot = 0; slot < load_acquire(context.slot_count); ++slot) {
    const int state = load_acquire(load_acquire(context.items)[slot].state);
    busy += state >= TVN_STATE_STARTED && state <= TVN_STATE_DOWNLOADING;
  }
  return busy;
}

std::vector<std::string> urls(DownloadManager& manager) {
  return manager.with_items([](const ItemList& list) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < list.size(); ++i) out.emplace_back(list.at(i)->url);
    return out;
  });
}

class WindowCallsTest : public ManagerTest {
 protected:
  // Items w0..w(n-1), each held after 100 bytes until its gate opens.
  std::unique_ptr<DownloadManager> running(int limit, int n) {
    for (int i = 0; i < n; ++i) gates_.push_back(serve(path(i), content(5000 + i), 100));
    auto manager = start(clock_, limit);
    for (int i = 0; i < n; ++i) manager->register_item("2", out(), server_.url(path(i)));
    return manager;
  }
  std::vector<std::shared_ptr<Gate>> gates_;
};

// The emptied list and then the timed trigger each run the shutdown
// (suspend sets no run-time mark), which fails and says so with its owner.
TEST_F(WindowCallsTest, DeletedRowsLeaveAtOnceAndOnlyRunningOnesAreStopped) {
  set_ini("[SETTING]\nShutDown=1\nHowtoSD=16\n");
  power_.state_result = 1;
  auto manager = running(2, 4);
  ASSERT_THAT(states(*manager), ElementsAre(run, run, kWaiting, kWaiting));
  manager->delete_rows({3, 0, 3});
  EXPECT_THAT(urls(*manager), ElementsAre(server_.url(path(1)), server_.url(path(2))));
  // The stopped slot of w0 frees and goes to w2; w0's stop rests nothing.
  ASSERT_TRUE(wait_until([&] { return Value(states(*manager), ElementsAre(run, run)); }));
  manager->delete_all();
  EXPECT_TRUE(states(*manager).empty());
  manager->with_settings([](ProgramSettings& s) {
    s.shut_down = 2;
    s.shutdown_time = LocalTime{9999, 9999, 0, 9999, 9999, 9999, 9999, 0};
  });
  manager->tick(1000);
  const Seen s = seen(*manager);
  EXPECT_THAT(s.row_changes,
              ElementsAre("+0-0", "+1-1", "+2-2", "+3-3", "-3-3", "-0-0", "-0-0", "-0-0"));
  EXPECT_THAT(s.message_kinds,
              ElementsAre(std::pair(MessageOwner::kNone, MessageIcon::kWarning),
                          std::pair(MessageOwner::kMainWindow, MessageIcon::kWarning)));
  // The held downloads end only through the stops.
  EXPECT_TRUE(wait_until([&] { return busy_slots(*manager) == 0; }));
  EXPECT_EQ(manager->with_items([&](auto&) { return power_.calls.size(); }), 2u);
}

TEST_F(WindowCallsTest, AClickWritesTheFocusedRowsDetailsAfresh) {
  auto manager = running(2, 1);
  manager->register_item("1", out(), server_.url("/missing"));
  ASSERT_TRUE(
      wait_until([&] { return Value(states(*manager), ElementsAre(kDownloading, kFailed)); }));
  // Under the manager's lock: the engine's notices write detail rows too.
  manager->with_items([&](auto&) {
    view_.write_detail_row(5, "left from another row");
    return 0;
  });
  manager->show_focused_details();
  const Seen s = seen(*manager);
  ASSERT_EQ(s.detail.size(), 2u);  // two divisions, nothing left over
  EXPECT_THAT(s.detail, Each(Not(IsEmpty())));
  // A failed row's details say why it failed.
  manager->with_items([&](auto&) { return view_.focus = 1; });
  manager->show_focused_details();
  EXPECT_THAT(seen(*manager).detail, ElementsAre("ERROR", HasSubstr("理由: ")));
}

TEST_F(WindowCallsTest, ClosingWritesTheWindowKeysAndStartsNothingMore) {
  set_ini("[SETTING]\nMaxDLFiles=1\n");
  auto manager = running(0, 2);
  ASSERT_THAT(states(*manager), ElementsAre(run, kWaiting));
  EXPECT_EQ(manager->close_window(
                {.x = 10, .y = 20, .width = 700, .height = 500, .iconic = 0, .div_bar_x = 300}),
            0);
  EXPECT_EQ(manager->register_item("1", out(), server_.url(path(9))), -1);
  manager->tick(5000);  // the window's timer is gone: a late tick shows nothing
  EXPECT_EQ(seen(*manager).status[0], "");
  gates_[0]->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).size() == 1; }));
  EXPECT_THAT(states(*manager), ElementsAre(kWaiting));
  EXPECT_THAT(read_file(dir_ / "Torvane.ini").value_or(""),
              AllOf(HasSubstr("DivBarX=300"), HasSubstr("MaxDLFiles=1")));
}

TEST_F(WindowCallsTest, AddItemsPanelRegistersWhatItsRulesAllow) {
  auto manager = start(clock_, 1);
  // A URL or folder cut to its field would fetch or save something else.
  const std::string long_url = server_.url("/") + std::string(2047, 'a');
  EXPECT_EQ(manager->register_item("1", out(), long_url.substr(0, 2047)), 0);
  EXPECT_EQ(manager->register_item("1", out(), long_url), -1);
  EXPECT_EQ(manager->register_item("1", out() + std::string(2048, 'd'), server_.url("/x")), -1);
  EXPECT_EQ(states(*manager).size(), 1u);
  EXPECT_THAT(seen(*manager).messages, ElementsAre(HasSubstr("長すぎる"), _));
  AddItemsHistory history;
  const std::string folder = out(), url = server_.url("/p");
  struct Row {
    PanelTarget target;
    std::string url;
    bool registered;
  } rows[] = {
      {{"", folder}, url, false},
      {{"1", ""}, url, false},
      {{"1", folder}, "HTTP://127.0.0.1/p", false},
      {{"1", folder}, url, true},
      {{"1", folder}, "https://127.0.0.1:1/p", true},
      {{"", folder}, "http://127.0.0.1/P", false},  // replaces "HTTP://127.0.0.1/p"
  };
  for (const Row& row : rows)
    EXPECT_EQ(register_url_box(*manager, history, row.target, row.url) >= 0, row.registered)
        << row.url;
  // The history takes the texts whether or not they were registered.
  EXPECT_THAT(history.url_list, ElementsAre("http://127.0.0.1/P", "https://127.0.0.1:1/p", url));
  EXPECT_THAT(history.save_list, ElementsAre(folder, ""));

  // The clipboard: the URL of each line, and only with a complete target.
  const std::string q = server_.url("/q") + " here", r = server_.url("/r");
  const std::string clip = "see " + q.substr(1) + "\r\nnothing\r\n" + r;
  EXPECT_EQ(register_clipboard_urls(*manager, history, {"", folder}, clip), 0);
  EXPECT_EQ(register_clipboard_urls(*manager, history, {"1", folder}, clip), 2);
  EXPECT_THAT(urls(*manager), IsSupersetOf({q, r}));
}

}  // namespace
}  // namespace torvane::test
