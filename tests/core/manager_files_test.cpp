// Which file the manager writes: a resume goes on in its own file, two
// items with one file name never share a file, and a damaged list file is
// moved aside, never overwritten.
#include <gmock/gmock.h>

#include <filesystem>
#include <set>

#include "core/queue/item_list_file.h"
#include "core/queue/target_file.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

using namespace ::testing;

// Tuesday 9 March, 14:05: the default other-name template's text.
const LocalTime kAt1405{2027, 3, 2, 9, 14, 5, 0, 0};
constexpr const char* kOther1405 = "data_[03月09日(火) 14時05分].bin";

std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;  // a folder never made lists nothing
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    names.insert(entry.path().filename().string());
  return names;
}

class ManagerFiles : public ManagerTest {};

// A stopped download resumes into its own file under every policy, in the
// run or after a restart (when the other-name template names another file),
// each division from where it stopped and only while the file is the one
// first answered.
TEST_F(ManagerFiles, AResumeGoesOnInItsOwnFileUnderEveryPolicy) {
  const std::pair<int, bool> rows[] = {{kExistOverwrite, false},
                                       {kExistFail, false},
                                       {kExistOtherName, false},
                                       {kExistRenameOld, false},
                                       {kExistOtherName, true}};
  for (const auto& [policy, restart] : rows) {
    SCOPED_TRACE(testing::Message() << policy << (restart ? " restarted" : ""));
    set_ini("[SETTING]\nExistFile=" + std::to_string(policy) + "\n");
    const std::string folder = out() + std::to_string(policy) + (restart ? "r/" : "/");
    if (restart) {
      std::filesystem::create_directories(folder);
      ASSERT_TRUE(write_file(folder + "data.bin", "old"));
    }
    const std::string file = folder + (restart ? kOther1405 : "data.bin");
    const auto body = content(200000, policy);
    // Each answer holds after 50000 bytes: one 40000-byte share reaches the file.
    auto gate = serve("/data.bin", body, 50000, "ETag: \"v1\"\r\n");
    ManualClock clock(kAt1405);
    auto manager = start(clock, 2);
    manager->register_item("2", folder, server_.url("/data.bin"));
    ASSERT_TRUE(has_bytes_at(file, *body, {0, 100000}));
    ASSERT_TRUE(stop_first(*manager));
    const std::size_t stopped_at = server_.request_count();
    if (restart) {
      clock.set(LocalTime{2027, 3, 2, 9, 14, 6, 0, 0});
      this->restart(manager, clock, 2);
    }
    manager->scheduler_pass(-1, true);
    gate->open();
    ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
    EXPECT_EQ(read_file(file), *body);
    // No division starts over, and each asks with the first answer's validator, once.
    const auto requests = server_.requests();
    EXPECT_GT(requests.size(), stopped_at);
    for (std::size_t i = stopped_at; i < requests.size(); ++i) {
      EXPECT_NE(requests[i].range_start(), 0);
      EXPECT_EQ(occurrences(requests[i].raw, "\r\nIf-Range: \"v1\"\r\n"), 1u);
    }
    if (restart) {
      EXPECT_THAT(names_in(folder), UnorderedElementsAre("data.bin", kOther1405));
      EXPECT_EQ(read_file(folder + "data.bin"), "old");
    } else {
      EXPECT_THAT(names_in(folder), ElementsAre("data.bin"));
    }
    EXPECT_EQ(manager->end(10000), 0);
    EXPECT_FALSE(path_exists(list_file()));  // an empty queue leaves no file behind
  }
}

TEST_F(ManagerFiles, TwoItemsWithOneFileNameNeverShareAFile) {
  const auto a = content(150000, 21), b = content(120000, 22);
  auto gate_a = serve("/a/data.bin", a, 50000);
  auto gate_b = serve("/b/data.bin", b, 50000);
  ManualClock clock(kAt1405);
  // Overwrite (the default): the second takes the other name.
  auto manager = start(clock, 4);
  manager->register_item("2", out(), server_.url("/a/data.bin"));
  manager->register_item("2", out(), server_.url("/b/data.bin"));
  gate_a->open();
  gate_b->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_THAT(names_in(out()), UnorderedElementsAre("data.bin", kOther1405));
  EXPECT_EQ(saved("data.bin"), *a);
  EXPECT_EQ(saved(kOther1405), *b);
  EXPECT_EQ(manager->end(10000), 0);
  // Error: the second fails and says why; the first is left alone.
  set_ini("[SETTING]\nExistFile=1\n");
  auto gate = serve("/c/data.bin", a, 50000);
  serve("/d/data.bin", b);
  manager = start(clock, 4);
  const std::string folder = out() + "e/";
  manager->register_item("2", folder, server_.url("/c/data.bin"));
  manager->register_item("2", folder, server_.url("/d/data.bin"));
  EXPECT_THAT(states(*manager), ElementsAre(Ne(kFailed), kFailed));
  EXPECT_THAT(seen(*manager).messages, Contains(HasSubstr(folder + "data.bin")));
  gate->open();
  ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kFailed}; }));
  EXPECT_THAT(names_in(folder), ElementsAre("data.bin"));
  EXPECT_EQ(read_file(folder + "data.bin"), *a);
}

TEST_F(ManagerFiles, ADamagedListIsMovedAsideAndWhatReadsIsKept) {
  ItemList list;
  for (const char* name : {"a", "b", "c"}) {
    ListItem& item = *list.at(static_cast<std::int64_t>(list.append(ItemList::Growth::kByOne)));
    item.state = kResting;  // not started by the load
    set_field(item.url, server_.url(std::string("/") + name));
  }
  std::string damaged = encode_item_list(list, false);
  damaged[damaged.find("/b") + 1] ^= 0x10;  // the middle record's URL
  const std::string aside = list_file() + ".damaged-20270309-140500";
  ManualClock clock(kAt1405);
  // The second load at the same second leaves the first file set aside alone.
  for (const std::string& kept_as : {aside, aside + "-2"}) {
    ASSERT_TRUE(write_file(list_file(), damaged));
    auto manager = start(clock, 2);
    ASSERT_EQ(manager->load_list(), 0);
    EXPECT_THAT(seen(*manager).messages,
                Contains(AllOf(HasSubstr("1 download could not be read"), HasSubstr(kept_as))));
    EXPECT_EQ(read_file(kept_as), damaged);
    EXPECT_EQ(manager->end(10000), 0);
    ItemList back;
    ItemListDamage damage;
    ASSERT_EQ(read_item_list(list_file(), back, EngineApi{}, &damage), 0);
    EXPECT_FALSE(damage.any());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_THAT((std::vector<std::string>{back.at(0)->url, back.at(1)->url}),
                ElementsAre(server_.url("/a"), server_.url("/c")));
  }
  EXPECT_EQ(read_file(aside), damaged);
}

}  // namespace
}  // namespace torvane::test
