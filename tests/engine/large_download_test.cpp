// A 5 GiB file from nginx through libtorvane.so (label "large": every run
// writes 5 GiB, so only the release pass runs these). The served file is
// sparse, with random blocks at its start, on both sides of 4 GiB and at its
// end; each result is deleted right after its check.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/kept_item.h"
#include "tests/support/real_peers.h"
#include "tests/support/sparse_file.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr std::uint64_t kSize = 5 * kGiB;
constexpr auto kDeadline = std::chrono::seconds(240);

class LargeNginx : public testing::Test {
 protected:
  void SetUp() override {
    TORVANE_REQUIRE_PROGRAM("nginx", RealPeer::program("nginx"));
    ASSERT_TRUE(make_sparse_file(dir_ / "served.iso", served_));
    nginx_ = std::make_unique<RealPeer>("nginx", dir_.path());
    ASSERT_TRUE(nginx_->ok()) << nginx_->error();
  }
  void TearDown() override { std::remove(save_.c_str()); }

  // The GETs' range starts, in the order they were sent.
  static std::vector<std::uint64_t> starts(const EngineHarness& e) {
    std::vector<std::uint64_t> found;
    for (const std::string& text : e.texts(TVN_NOTICE_GET_SENT))
      found.push_back(std::stoull(text.substr(text.find("Range: bytes=") + 13)));
    return found;
  }
  ItemSetup item(int divisions) const {
    return {.url = nginx_->url("/served.iso"), .save_path = save_, .div_count = divisions};
  }

  TempDir dir_;
  const SparseFile served_ = sparse_layout(kSize, 5);
  const std::string save_ = dir_ / "saved.iso";
  std::unique_ptr<RealPeer> nginx_;
};

class LargeNginxDivisions : public LargeNginx, public testing::WithParamInterface<int> {};

// Division k of n starts at k * 5 GiB / n (with 5, the last at exactly 4 GiB).
TEST_P(LargeNginxDivisions, FiveGiBFileIsByteIdentical) {
  const int n = GetParam();
  EngineHarness e(1);
  ASSERT_EQ(e.wait_final(e.start(item(n)), kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_EQ(e.count(TVN_NOTICE_MESSAGE), 0);
  EXPECT_EQ(sparse_difference(save_, served_), "");
  std::vector<std::uint64_t> expected;
  for (int k = 0; k < n; ++k) expected.push_back(k * kSize / n);
  std::vector<std::uint64_t> sent = starts(e);
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, expected);
}

INSTANTIATE_TEST_SUITE_P(Divisions, LargeNginxDivisions, testing::Values(1, 4, 5, 8));

// Stopped where every 32-bit field saturates, resumed from the client's whole values.
TEST_F(LargeNginx, StopPastFourGiBAndResumeInAFreshEngine) {
  KeptItem kept;
  {
    EngineHarness e(1);
    kept.keep_stopped(e);
    const int slot = e.start(item(1));
    ASSERT_GE(slot, 0);
    WideSizes* wide = dl_wide(&e.ctx(), slot);
    ASSERT_TRUE(EngineHarness::wait_until(
        [&] {
          const std::uint64_t* done = load_acquire(wide->range_done);
          return done != nullptr && load_relaxed(*done) > kFourGiB;
        },
        kDeadline));
    dl_stop(&e.item(slot), -1);
    ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED) << "finished before the stop";
  }
  ASSERT_NE(kept.record(), nullptr);
  EXPECT_EQ(kept.record()->disk.range_done[0], TVN_SIZE_WIDE);
  ASSERT_EQ(kept.done.size(), 1u);
  ASSERT_GT(kept.done[0], kFourGiB);
  EngineHarness e(1);
  const int slot = kept.resume(e);
  ASSERT_GE(slot, 0);
  ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_EQ(starts(e), std::vector<std::uint64_t>{kept.done[0]});
  EXPECT_EQ(sparse_difference(save_, served_), "");
}

}  // namespace
}  // namespace torvane::test
