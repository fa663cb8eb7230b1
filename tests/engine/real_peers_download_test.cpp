// Whole downloads through libtorvane.so from real peers on loopback: nginx
// serving generated files over 1, 3, 8 and 16 divisions, and the same through
// tinyproxy. A real server answers with its own header spelling, sends body
// bytes in whatever pieces the kernel makes, and closes on its own schedule;
// the result must still be the same bytes as the file it serves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"

// The sanitizer runs execute these downloads too; at their speed the large
// file is cut down so a run stays within a minute or so.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TVN_PEERS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TVN_PEERS_SANITIZED 1
#endif
#endif

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1024 * 1024;
#ifdef TVN_PEERS_SANITIZED
constexpr std::size_t kLargeSize = 16 * kMiB + 3;
#else
constexpr std::size_t kLargeSize = 100 * kMiB;
#endif
constexpr int kDivisionCounts[] = {1, 3, 8, 16};
// The GUI's default: 40000 bytes of buffer per division.
constexpr int kBufferPerDivision = 40000;

#define SKIP_OR_FAIL_WITHOUT(program, name)                                   \
  if ((program).empty()) {                                                    \
    if (peers_required()) FAIL() << name << " is required but not installed"; \
    GTEST_SKIP() << name << " is not installed";                              \
  }

// The first offset where the file differs from `expected`, so a failure says
// where bytes went wrong (a division boundary, a share boundary, ...).
testing::AssertionResult file_equals(const std::string& path, const std::string& expected) {
  const std::optional<std::string> got = read_file(path);
  if (!got) return testing::AssertionFailure() << path << " cannot be read";
  if (got->size() != expected.size())
    return testing::AssertionFailure() << path << " has " << got->size() << " bytes, expected "
                                       << expected.size();
  const auto diff = std::mismatch(got->begin(), got->end(), expected.begin());
  if (diff.first != got->end())
    return testing::AssertionFailure() << path << " differs first at byte " << (diff.first - got->begin())
                                       << " of " << expected.size();
  return testing::AssertionSuccess();
}

// The final notice of the item in `slot` (107, 108 or 109), or 0 when none
// came before the deadline. Polled rather than waited on: a large download
// raises tens of thousands of data notices.
int wait_final(EngineHarness& h, int slot, std::chrono::milliseconds timeout) {
  int final_code = 0;
  EngineHarness::wait_until(
      [&] {
        for (int code : {TVN_NOTICE_FINISHED, TVN_NOTICE_FAILED, TVN_NOTICE_STOPPED}) {
          if (h.count(code, slot) > 0) {
            final_code = code;
            return true;
          }
        }
        return false;
      },
      timeout);
  return final_code;
}

// Texts of the notices of one code, in order.
std::vector<std::string> texts_of(const EngineHarness& h, int code) {
  std::vector<std::string> out;
  for (const Notice& n : h.notices())
    if (n.code == code) out.push_back(n.text);
  return out;
}

// nginx and the folder it serves, shared by the tests of one process; the
// folder (with the large file in it) goes when the suite ends.
class RealPeersDownload : public testing::Test {
 protected:
  static void TearDownTestSuite() {
    nginx_.reset();
    served_.reset();
  }

  void SetUp() override {
    SKIP_OR_FAIL_WITHOUT(NginxServer::program(), "nginx");
    if (!served_) served_ = std::make_unique<TempDir>();
    if (!nginx_) nginx_ = std::make_unique<NginxServer>(served_->path(), served_->path());
    ASSERT_TRUE(nginx_->ok()) << nginx_->error();
  }

  // Writes `content` under `name` into the served folder once.
  static void serve(const std::string& name, const std::string& content) {
    if (!path_exists(*served_ / name)) {
      ASSERT_TRUE(write_file(*served_ / name, content));
    }
  }

  // Downloads /name with `divisions` and checks it ends with 107 and the
  // same bytes; the output file is removed afterwards (the large one is big).
  void download_and_compare(const std::string& name, const std::string& content, int divisions,
                            std::chrono::milliseconds timeout) {
    SCOPED_TRACE(testing::Message() << name << " (" << content.size() << " bytes) over " << divisions
                                    << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    ItemSpec spec;
    spec.url = nginx_->url("/" + name);
    spec.save_path = out_ / (name + "." + std::to_string(divisions));
    spec.div_count = divisions;
    spec.buffer_size = kBufferPerDivision * divisions;
    int started = -1;
    const auto begin = std::chrono::steady_clock::now();
    const int slot = h.start(spec, &started);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(started, 0);
    const int final_code = wait_final(h, slot, timeout);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(final_code, TVN_NOTICE_FINISHED) << "after " << seconds << " s";
    EXPECT_EQ(h.count(TVN_NOTICE_FAILED), 0);
    EXPECT_EQ(h.count(TVN_NOTICE_MESSAGE), 0);
    EXPECT_TRUE(file_equals(spec.save_path, content));
    // One HEAD, then one GET per division: a file smaller than the division
    // count gets one division per byte; nothing is asked twice.
    EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT), 1);
    const int used = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(divisions), content.size()));
    EXPECT_EQ(h.count(TVN_NOTICE_GET_SENT), used);
    std::remove(spec.save_path.c_str());
  }

  static std::unique_ptr<TempDir> served_;
  static std::unique_ptr<NginxServer> nginx_;
  TempDir out_;
};

std::unique_ptr<TempDir> RealPeersDownload::served_;
std::unique_ptr<NginxServer> RealPeersDownload::nginx_;

// Sizes that end mid-share, one byte past a power of two, a single byte,
// and a file large enough that every division refills its share many times.
struct SizeCase {
  const char* label;
  std::size_t size;
  std::chrono::milliseconds timeout;
};

class RealPeersSizes : public RealPeersDownload, public testing::WithParamInterface<SizeCase> {};

TEST_P(RealPeersSizes, ByteIdenticalOverEveryDivisionCount) {
  const SizeCase& c = GetParam();
  const std::string name = std::string(c.label) + ".bin";
  const std::string content = pattern_bytes(c.size, static_cast<std::uint32_t>(c.size));
  serve(name, content);
  for (int divisions : kDivisionCounts) download_and_compare(name, content, divisions, c.timeout);
}

INSTANTIATE_TEST_SUITE_P(Nginx, RealPeersSizes,
                         testing::Values(SizeCase{"one_byte", 1, 20s}, SizeCase{"page_less_one", 8191, 20s},
                                         SizeCase{"mib_plus_one", kMiB + 1, 30s},
                                         SizeCase{"large", kLargeSize, 120s}),
                         [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.label); });

TEST_F(RealPeersDownload, EmptyFileFinishesAndLeavesNoFile) {
  serve("empty.bin", "");
  for (int divisions : {1, 8}) {
    SCOPED_TRACE(testing::Message() << divisions << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    ItemSpec spec;
    spec.url = nginx_->url("/empty.bin");
    spec.save_path = out_ / ("empty." + std::to_string(divisions));
    spec.div_count = divisions;
    spec.buffer_size = kBufferPerDivision * divisions;
    const int slot = h.start(spec);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(wait_final(h, slot, 20s), TVN_NOTICE_FINISHED);
    EXPECT_FALSE(path_exists(spec.save_path));
  }
}

TEST_F(RealPeersDownload, ThroughTinyproxyTheTargetIsTheWholeUrl) {
  SKIP_OR_FAIL_WITHOUT(TinyProxy::program(), "tinyproxy");
  TempDir proxy_dir;
  TinyProxy proxy(proxy_dir.path());
  ASSERT_TRUE(proxy.ok()) << proxy.error();

  const std::string content = pattern_bytes(kMiB + 1, 11);
  serve("proxied.bin", content);
  const std::string url = nginx_->url("/proxied.bin?v=1");
  const std::string host = "127.0.0.1:" + std::to_string(nginx_->port());
  for (int divisions : {1, 3}) {
    SCOPED_TRACE(testing::Message() << divisions << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    ItemSpec spec;
    spec.url = url;
    spec.save_path = out_ / ("proxied." + std::to_string(divisions));
    spec.div_count = divisions;
    spec.buffer_size = kBufferPerDivision * divisions;
    spec.options = TVN_OPT_USE_PROXY;
    spec.proxy = proxy.address();
    const int slot = h.start(spec);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(wait_final(h, slot, 30s), TVN_NOTICE_FINISHED);
    EXPECT_TRUE(file_equals(spec.save_path, content));

    // What the engine handed to the proxy: the whole URL, the host with its port.
    const std::vector<std::string> heads = texts_of(h, TVN_NOTICE_HEAD_SENT);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0], "HEAD " + url + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n");
    const std::vector<std::string> gets = texts_of(h, TVN_NOTICE_GET_SENT);
    ASSERT_EQ(gets.size(), static_cast<std::size_t>(divisions));
    for (const std::string& get : gets) {
      EXPECT_EQ(get.rfind("GET " + url + " HTTP/1.0\r\n", 0), 0u) << get;
      EXPECT_NE(get.find("\r\nHost: " + host + "\r\n"), std::string::npos) << get;
    }
  }

  // The proxy's own record of what it was asked for, where it keeps one.
  const std::optional<std::string> log = read_file(proxy_dir / "tinyproxy.log");
  if (log && log->find("Request") != std::string::npos) {
    EXPECT_NE(log->find("HEAD " + url + " HTTP/1.0"), std::string::npos);
    EXPECT_NE(log->find("GET " + url + " HTTP/1.0"), std::string::npos);
  }
}

}  // namespace
}  // namespace torvane::test
