// Downloads past 4 GiB through the manager, cheaply: the scripted server
// announces 5 GiB and sends one slice where each division asks, so the
// files stay sparse. The rows show the whole sizes; a stop keeps them in the
// item list file, and a fresh manager and engine go on where each division
// stopped. An https download stopped part-way resumes the same way through
// real peers, byte-identical: the new engine's TLS sessions carry on.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "core/queue/item_list_file.h"
#include "tests/core/manager_fixture.h"
#include "tests/support/real_peers.h"
#include "tests/support/sparse_file.h"
#include "tests/support/test_certs.h"

namespace torvane::test {
namespace {

constexpr std::uint64_t kSize = 5 * kGiB;
constexpr std::size_t kSlice = 65536;

// `v` as `n` bytes, little-endian.
std::string le(std::uint64_t v, int n = 8) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i));
  return out;
}

class WideResume : public ManagerTest {
 protected:
  // The progress texts, as the tick writes them.
  std::vector<std::string> progress(DownloadManager& m) {
    m.tick(clock_.tick_ms());
    return m.with_items([](const ItemList& list) {
      std::vector<std::string> texts;
      for (std::size_t i = 0; i < list.size(); ++i) texts.emplace_back(list.at(i)->progress);
      return texts;
    });
  }
};

TEST_F(WideResume, TwoDownloadsOf5GiBShowTheirSizesAndResumeInAFreshManager) {
  server_.set_handler([](const HttpRequest& r) { return announced_reply(r, kSize, kSlice); });
  auto manager = start(clock_, 2);
  // Five divisions of 1 GiB, the last starting at 4 GiB exactly; and one
  // division whose range is the whole 5 GiB.
  manager->register_item("5", out(), server_.url("/five.img"));
  manager->register_item("1", out(), server_.url("/one.img"));
  const std::vector<std::string> first = {"327680 / 5368709120 (0%)", "65536 / 5368709120 (0%)"};
  ASSERT_TRUE(wait_until([&] { return progress(*manager) == first; })) << progress(*manager)[0];
  EXPECT_THAT(seen(*manager).detail,
              ::testing::Contains("004/Status:ＤＬ | Try 01/05 | 65536 / 1073741824 (0%)"));
  // The tick's save keeps the running downloads' whole sizes, so a killed
  // program resumes them too: the size and the one division's length (its
  // bytes done follow, as far as they reached the file).
  manager->tick(clock_.tick_ms() + 3000);
  const std::string whole = std::string(kItemListWideTag) + le(28, 4) + le(1, 4) + le(kSize);
  EXPECT_NE(read_file(list_file()).value_or("").find(whole + le(kSize)), std::string::npos);
  manager->stop_item(0);
  manager->stop_item(1);
  ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kResting, kResting}; }));
  const std::size_t asked_before = server_.request_count();
  restart(manager, clock_, 2);
  EXPECT_NE(read_file(list_file()).value_or("").find(kItemListWideTag), std::string::npos);
  manager->scheduler_pass(-1, true);
  const std::vector<std::string> resumed = {"655360 / 5368709120 (0%)", "131072 / 5368709120 (0%)"};
  ASSERT_TRUE(wait_until([&] { return progress(*manager) == resumed; })) << progress(*manager)[0];
  // Each division went on from its bytes, none from the start of its range.
  std::map<std::string, std::set<std::int64_t>> asked;
  const std::vector<HttpRequest> requests = server_.requests();
  for (auto q = requests.begin() + static_cast<std::ptrdiff_t>(asked_before); q != requests.end();
       ++q)
    if (q->method == "GET") asked[q->target].insert(q->range_start());
  std::set<std::int64_t> five;
  for (std::uint64_t d = 0; d < 5; ++d) five.insert(static_cast<std::int64_t>(d * kGiB + kSlice));
  EXPECT_EQ(asked, (std::map<std::string, std::set<std::int64_t>>{{"/five.img", five},
                                                                  {"/one.img", {kSlice}}}));
  EXPECT_EQ(manager->end(10000), 0);
  // Both slices of each division are in their places.
  for (std::uint64_t d = 0; d < 5; ++d) {
    const std::uint64_t at = d * kGiB;
    EXPECT_EQ(read_at(out() + "five.img", at, 2 * kSlice), announced_bytes(at, 2 * kSlice)) << d;
  }
  EXPECT_EQ(read_at(out() + "one.img", 0, 2 * kSlice), announced_bytes(0, 2 * kSlice));
}

class HttpsResume : public ManagerTest {};

TEST_F(HttpsResume, AStoppedDownloadResumesInAFreshEngineByteIdentical) {
  if (TestCerts::program().empty() || RealPeer::program("nginx").empty()) {
    if (peers_required()) FAIL() << "openssl and nginx are required";
    GTEST_SKIP() << "openssl or nginx is not installed";
  }
  TempDir served;
  TestCerts certs(served / "certs");
  ASSERT_TRUE(certs.ok()) << certs.error();
  ::setenv("SSL_CERT_FILE", certs.ca_file().c_str(), 1);
  const std::string content = pattern_bytes(4 * 1024 * 1024, 17);
  ASSERT_TRUE(write_file(served / "big.bin", content));
  // Slow enough that a stop comes long before the end; the log's lines
  // say how many body bytes each answer sent.
  const std::string access_log = served / "access.log";
  RealPeer nginx("nginx", served.path(), "limit_rate 1m; access_log " + access_log + ";",
                 {.cert_file = certs.cert_file(TestCerts::kGood),
                  .key_file = certs.key_file(TestCerts::kGood)});
  ASSERT_TRUE(nginx.ok()) << nginx.error();

  auto manager = start(clock_, 2);
  manager->register_item("2", out(), nginx.url("/big.bin"));
  // Each division has far more in the file than nginx sends past a range's
  // end before the connection closes (a socket's buffers), so the resumed
  // answers stay below the whole file.
  const std::size_t half = content.size() / 2;
  ASSERT_TRUE(has_bytes_at(out() + "big.bin", content, {400000, half + 400000}));
  ASSERT_TRUE(stop_first(*manager));
  EXPECT_NE(saved("big.bin"), content) << "stopped before the end";
  const std::size_t logged = read_file(access_log).value_or("").size();
  restart(manager, clock_, 2);
  manager->scheduler_pass(-1, true);
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("big.bin"), content);
  // The fresh engine asked for what was missing only: its answers were
  // partial ones, together less than the whole file.
  const std::uint64_t resumed = partial_bytes(read_file(access_log).value_or("").substr(logged));
  EXPECT_GT(resumed, 0u);
  EXPECT_LT(resumed, content.size()) << read_file(access_log).value_or("");
  EXPECT_EQ(manager->end(10000), 0);
  ::unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace torvane::test
