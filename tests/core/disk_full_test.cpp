// A download whose disk fills up, as the manager shows it: the item rests
// with the reason, said once, stays resting through the scheduler's passes,
// and once there is room a requeue brings the whole file.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "tests/core/manager_fixture.h"
#include "tests/support/small_disk.h"

namespace torvane::test {
namespace {

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
    EXPECT_EQ(reason(*manager, 0), said);
    const Seen shown = seen(*manager);
    EXPECT_EQ(shown.messages, std::vector<std::string>{"Error: " + said});
    EXPECT_EQ(occurrences(shown.log, said), 1u);
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
