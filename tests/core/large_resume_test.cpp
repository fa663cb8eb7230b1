// A sparse 5 GiB file from nginx, stopped part-way and resumed through the
// item list file by a fresh manager and engine, ends byte-identical. It
// writes 5 GiB: label "large", deleted right after its check.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/manager_fixture.h"
#include "tests/support/real_peers.h"
#include "tests/support/sparse_file.h"

namespace torvane::test {
namespace {

class LargeResume : public ManagerTest {};

TEST_F(LargeResume, A5GiBFileStoppedAndResumedInAFreshManagerEndsByteIdentical) {
  if (RealPeer::program("nginx").empty()) {
    if (peers_required()) FAIL() << "nginx is required";
    GTEST_SKIP() << "nginx is not installed";
  }
  TempDir served;
  const SparseFile file = sparse_layout(5 * kGiB, 29);
  ASSERT_TRUE(make_sparse_file(served / "disk.img", file));
  const std::string access_log = served / "access.log";
  RealPeer nginx("nginx", served.path(), "access_log " + access_log + ";");
  ASSERT_TRUE(nginx.ok()) << nginx.error();

  auto manager = start(clock_, 1);
  // Five divisions of 1 GiB: the last one starts at 4 GiB exactly.
  manager->register_item("5", out(), nginx.url("/disk.img"));
  const auto done = [&] {
    manager->tick(clock_.tick_ms());
    return manager->with_items(
        [](const ItemList& l) { return l.empty() ? 0 : l.at(0)->done_bytes; });
  };
  ASSERT_TRUE(wait_until([&] { return done() >= kGiB; }));
  ASSERT_TRUE(stop_first(*manager));
  // nginx logs a request when its connection ends: the five stopped GETs.
  const auto gets = [&] { return occurrences(read_file(access_log).value_or(""), "\"GET "); };
  ASSERT_TRUE(wait_until([&] { return gets() == 5; })) << gets();
  const std::size_t logged = read_file(access_log).value_or("").size();
  restart(manager, clock_, 1);
  manager->scheduler_pass(-1, true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(4);
  while (!states(*manager).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(states(*manager).empty()) << reason(*manager, 0);
  EXPECT_EQ(manager->end(10000), 0);
  const std::string result = out() + "disk.img";
  EXPECT_EQ(sparse_difference(result, file), "");
  std::filesystem::remove(result);
  // The fresh engine asked for what was missing only: partial answers that
  // together (with what nginx sent past each division's end before it
  // closed) are less than the whole file, where a start afresh is more.
  const std::uint64_t resumed = partial_bytes(read_file(access_log).value_or("").substr(logged));
  EXPECT_GT(resumed, 0u);
  EXPECT_LT(resumed, file.size);
}

}  // namespace
}  // namespace torvane::test
