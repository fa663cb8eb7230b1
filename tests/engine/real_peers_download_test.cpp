// Whole downloads through libtorvane.so from real peers on loopback: nginx
// over several division counts, and through tinyproxy. A real server has its
// own header spelling, body pieces and closing schedule; the file saved must
// still be the one served.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

#define REQUIRE_PEER(name)                                                 \
  if (RealPeer::program(name).empty()) {                                   \
    if (peers_required()) FAIL() << name " is required but not installed"; \
    GTEST_SKIP() << name " is not installed";                              \
  }

// "" when the file holds `expected`, else where it first differs.
std::string difference(const std::string& path, const std::string& expected) {
  const std::string got = read_file(path).value_or("");
  if (got == expected) return "";
  const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first;
  return "byte " + std::to_string(at - got.begin()) + " of " + std::to_string(got.size());
}

// nginx serving a folder that also takes the downloads.
class RealPeers : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PEER("nginx");
    nginx_ = std::make_unique<RealPeer>("nginx", dir_.path());
    ASSERT_TRUE(nginx_->ok()) << nginx_->error();
  }
  // The final notice of one item with the GUI's 40000 buffer bytes a division.
  static int download(EngineHarness& h, ItemSetup s) {
    s.buffer_size = 40000 * s.div_count;
    return h.wait_final(h.start(s), std::chrono::seconds(120));
  }

  TempDir dir_;
  const std::string save_ = dir_ / "saved";
  std::unique_ptr<RealPeer> nginx_;
};

class RealPeersSizes : public RealPeers, public testing::WithParamInterface<std::size_t> {};

// An empty file (finished, it leaves an empty file), a single byte (fewer bytes
// than divisions), a page less one, one byte past a power of two, and a file
// where every division refills its share many times.
TEST_P(RealPeersSizes, NginxFileIsByteIdenticalOverEveryDivisionCount) {
  const std::size_t size = GetParam();
  const std::string content = pattern_bytes(size, static_cast<std::uint32_t>(size));
  ASSERT_TRUE(write_file(dir_ / "served", content));
  for (int divisions : {1, 3, 8, 16}) {
    SCOPED_TRACE(testing::Message() << size << " bytes over " << divisions << " divisions");
    EngineHarness h;
    ItemSetup s{.url = nginx_->url("/served"), .save_path = save_, .div_count = divisions};
    ASSERT_EQ(download(h, s), TVN_NOTICE_FINISHED);
    EXPECT_EQ(h.count(TVN_NOTICE_MESSAGE), 0);
    EXPECT_EQ(difference(save_, content), "");
    // One HEAD, then one GET per division, as many as there are bytes (at least 1).
    EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT), 1);
    EXPECT_EQ(h.count(TVN_NOTICE_GET_SENT), std::clamp<std::size_t>(size, 1, divisions));
    std::remove(save_.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealPeersSizes,
                         testing::Values(0, 1, 8191, 1024 * 1024 + 1, 100 * 1024 * 1024));

// The proxy carries the requests (it refuses a target without the whole URL).
TEST_F(RealPeers, ThroughTinyproxyTheTargetIsTheWholeUrl) {
  REQUIRE_PEER("tinyproxy");
  RealPeer proxy("tinyproxy", dir_.path());
  ASSERT_TRUE(proxy.ok()) << proxy.error();
  const std::string content = pattern_bytes(1024 * 1024 + 1, 11);
  ASSERT_TRUE(write_file(dir_ / "proxied", content));
  const std::string url = nginx_->url("/proxied?v=1");
  EngineHarness h;
  ASSERT_EQ(download(h, {.url = url,
                         .save_path = save_,
                         .div_count = 3,
                         .options = TVN_OPT_USE_PROXY,
                         .proxy = "127.0.0.1:" + std::to_string(proxy.port())}),
            TVN_NOTICE_FINISHED);
  EXPECT_EQ(difference(save_, content), "");
  EXPECT_NE(read_file(dir_ / "tinyproxy.log").value_or("").find("GET " + url), std::string::npos)
      << "the requests went through the proxy";
}

}  // namespace
}  // namespace torvane::test
