// Whole downloads through libtorvane.so from real peers on loopback: nginx
// serving generated files over 1, 3, 8 and 16 divisions, and the same through
// tinyproxy. A real server answers with its own header spelling, sends body
// bytes in whatever pieces the kernel makes, and closes on its own schedule;
// the result must still be the same bytes as the file it serves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
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

// The first offset where the file differs, so a failure says where bytes
// went wrong (a division boundary, a share boundary, ...).
testing::AssertionResult same_bytes(const std::string& path, const std::string& expected) {
  const std::string got = read_file(path).value_or("<no file>");
  if (got == expected) return testing::AssertionSuccess();
  const auto diff = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  return testing::AssertionFailure() << "differs first at byte " << (diff.first - got.begin())
                                     << "; " << got.size() << " bytes of " << expected.size();
}

// nginx serving a folder that also takes the downloads.
class RealPeers : public testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PEER("nginx");
    nginx_ = std::make_unique<RealPeer>("nginx", dir_.path());
    ASSERT_TRUE(nginx_->ok()) << nginx_->error();
  }

  // Downloads `url` into `save` over `divisions` (the GUI's 40000 buffer
  // bytes each); the final notice (107, 108, 109), or 0 when none came.
  int download(EngineHarness& h, const std::string& url, const std::string& save, int divisions,
               std::optional<std::string> proxy = {}) {
    ItemSetup wanted;
    wanted.url = url;
    wanted.save_path = save;
    wanted.div_count = divisions;
    wanted.buffer_size = 40000 * divisions;
    wanted.options = proxy ? TVN_OPT_USE_PROXY : 0;
    wanted.proxy = proxy;
    int started = -1;
    const int slot = h.start(wanted, &started);
    if (slot < 0 || started != 0) return -1;
    return h.wait_final(slot, std::chrono::seconds(120));
  }

  TempDir dir_;
  std::unique_ptr<RealPeer> nginx_;
};

class RealPeersSizes : public RealPeers, public testing::WithParamInterface<std::size_t> {};

// An empty file (which, finished, leaves no file), a single byte (fewer bytes
// than divisions), a page less one, one byte past a power of two, and a file
// where every division refills its share many times.
TEST_P(RealPeersSizes, NginxFileIsByteIdenticalOverEveryDivisionCount) {
  const std::size_t size = GetParam();
  const std::string content = pattern_bytes(size, static_cast<std::uint32_t>(size));
  ASSERT_TRUE(write_file(dir_ / "served", content));
  for (int divisions : {1, 3, 8, 16}) {
    SCOPED_TRACE(testing::Message() << size << " bytes over " << divisions << " divisions");
    EngineHarness h;
    const std::string save = dir_ / "saved";
    ASSERT_EQ(download(h, nginx_->url("/served"), save, divisions), TVN_NOTICE_FINISHED);
    EXPECT_EQ(h.count(TVN_NOTICE_MESSAGE), 0);
    EXPECT_TRUE(size == 0 ? testing::AssertionResult(!path_exists(save)) << "an empty file was left"
                          : same_bytes(save, content));
    // One HEAD, then one GET per division, their count lowered to the size (at
    // least 1); nothing asked twice.
    EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT), 1);
    EXPECT_EQ(h.count(TVN_NOTICE_GET_SENT), std::clamp<std::size_t>(size, 1, divisions));
    std::remove(save.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealPeersSizes,
                         testing::Values(0, 1, 8191, 1024 * 1024 + 1, 100 * 1024 * 1024));

TEST_F(RealPeers, ThroughTinyproxyTheTargetIsTheWholeUrl) {
  REQUIRE_PEER("tinyproxy");
  RealPeer proxy("tinyproxy", dir_.path());
  ASSERT_TRUE(proxy.ok()) << proxy.error();
  const std::string content = pattern_bytes(1024 * 1024 + 1, 11);
  ASSERT_TRUE(write_file(dir_ / "proxied", content));
  const std::string url = nginx_->url("/proxied?v=1");
  EngineHarness h;
  ASSERT_EQ(download(h, url, dir_ / "saved", 3, "127.0.0.1:" + std::to_string(proxy.port())),
            TVN_NOTICE_FINISHED);
  EXPECT_TRUE(same_bytes(dir_ / "saved", content));
  // What the engine handed to the proxy: the whole URL, the host with its port.
  const std::string host = "\r\nHost: 127.0.0.1:" + std::to_string(nginx_->port()) + "\r\n";
  for (const Notice& n : h.notices())
    EXPECT_TRUE((n.code != TVN_NOTICE_HEAD_SENT && n.code != TVN_NOTICE_GET_SENT) ||
                (n.text.starts_with((n.code == TVN_NOTICE_HEAD_SENT ? "HEAD " : "GET ") + url +
                                    " HTTP/1.0\r\n") &&
                 n.text.find(host) != std::string::npos))
        << n.text;
}

}  // namespace
}  // namespace torvane::test
