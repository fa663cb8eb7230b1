// Whole downloads through libtorvane.so from real peers on loopback: nginx
// serving generated files over 1, 3, 8 and 16 divisions, and the same through
// tinyproxy. A real server answers with its own header spelling, sends body
// bytes in whatever pieces the kernel makes, and closes on its own schedule;
// the result must still be the same bytes as the file it serves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1024 * 1024;
// Large enough that every division refills its share many times; the
// sanitizer builds move it in about 20 s, so they run it at full size too.
constexpr std::size_t kLargeSize = 100 * kMiB;
constexpr int kDivisionCounts[] = {1, 3, 8, 16};
// The GUI's default: 40000 bytes of buffer per division.
constexpr int kBufferPerDivision = 40000;

#define SKIP_OR_FAIL_WITHOUT(program, name)                                   \
  if ((program).empty()) {                                                    \
    if (peers_required()) FAIL() << name << " is required but not installed"; \
    GTEST_SKIP() << name << " is not installed";                              \
  }

// The first offset where the file differs from `expected`, so a failure says
// where bytes went wrong (a division boundary, a share boundary, ...). Read
// in pieces: the large file is compared without a second copy in memory.
testing::AssertionResult file_equals(const std::string& path, const std::string& expected) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return testing::AssertionFailure() << path << " cannot be read";
  std::vector<char> piece(1 << 20);
  std::size_t offset = 0;
  for (;;) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    const std::size_t common =
        offset < expected.size() ? std::min(got, expected.size() - offset) : 0;
    const auto diff =
        std::mismatch(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(common),
                      expected.begin() + static_cast<std::ptrdiff_t>(offset));
    if (diff.first != piece.begin() + static_cast<std::ptrdiff_t>(common))
      return testing::AssertionFailure()
             << path << " differs first at byte "
             << offset + static_cast<std::size_t>(diff.first - piece.begin()) << " of "
             << expected.size();
    offset += got;
  }
  if (in.bad()) return testing::AssertionFailure() << path << " could not be read to its end";
  if (offset != expected.size())
    return testing::AssertionFailure()
           << path << " has " << offset << " bytes, expected " << expected.size();
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
    SCOPED_TRACE(testing::Message()
                 << name << " (" << content.size() << " bytes) over " << divisions << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    ItemSpec wanted;
    wanted.url = nginx_->url("/" + name);
    wanted.save_path = out_ / (name + "." + std::to_string(divisions));
    wanted.div_count = divisions;
    wanted.buffer_size = kBufferPerDivision * divisions;
    int started = -1;
    const auto begin = std::chrono::steady_clock::now();
    const int slot = h.start(wanted, &started);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(started, 0);
    const int final_code = wait_final(h, slot, timeout);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(final_code, TVN_NOTICE_FINISHED) << "after " << seconds << " s";
    EXPECT_EQ(h.count(TVN_NOTICE_FAILED), 0);
    EXPECT_EQ(h.count(TVN_NOTICE_MESSAGE), 0);
    EXPECT_TRUE(file_equals(wanted.save_path, content));
    // One HEAD, then one GET per division: a file smaller than the division
    // count gets one division per byte; nothing is asked twice.
    EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT), 1);
    const int used = static_cast<int>(
        std::min<std::size_t>(static_cast<std::size_t>(divisions), content.size()));
    EXPECT_EQ(h.count(TVN_NOTICE_GET_SENT), used);
    std::remove(wanted.save_path.c_str());
  }

  void every_division_count(const std::string& name, std::size_t size,
                            std::chrono::milliseconds timeout);

  static bool make_folder(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    return is_folder(path);
  }

  static std::unique_ptr<TempDir> served_;
  static std::unique_ptr<NginxServer> nginx_;
  TempDir out_;
};

std::unique_ptr<TempDir> RealPeersDownload::served_;
std::unique_ptr<NginxServer> RealPeersDownload::nginx_;

// Every size over every division count, the output compared with the
// served file. The sizes: a single byte (fewer bytes than divisions), a page
// less one (ends mid-share), one byte past a power of two, and a file large
// enough that every division refills its share many times.
void RealPeersDownload::every_division_count(const std::string& name, std::size_t size,
                                             std::chrono::milliseconds timeout) {
  const std::string content = pattern_bytes(size, static_cast<std::uint32_t>(size));
  serve(name, content);
  for (int divisions : kDivisionCounts) download_and_compare(name, content, divisions, timeout);
}

TEST_F(RealPeersDownload, OneByte) {
  every_division_count("one_byte.bin", 1, 20s);
}

TEST_F(RealPeersDownload, PageLessOneByte) {
  every_division_count("page_less_one.bin", 8191, 20s);
}

TEST_F(RealPeersDownload, MebibytePlusOne) {
  every_division_count("mib_plus_one.bin", kMiB + 1, 30s);
}

TEST_F(RealPeersDownload, LargeFile) {
  every_division_count("large.bin", kLargeSize, 120s);
}

TEST_F(RealPeersDownload, EmptyFileFinishesAndLeavesNoFile) {
  serve("empty.bin", "");
  for (int divisions : {1, 8}) {
    SCOPED_TRACE(testing::Message() << divisions << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    ItemSpec wanted;
    wanted.url = nginx_->url("/empty.bin");
    wanted.save_path = out_ / ("empty." + std::to_string(divisions));
    wanted.div_count = divisions;
    wanted.buffer_size = kBufferPerDivision * divisions;
    const int slot = h.start(wanted);
    ASSERT_GE(slot, 0);
    EXPECT_EQ(wait_final(h, slot, 20s), TVN_NOTICE_FINISHED);
    EXPECT_FALSE(path_exists(wanted.save_path));
  }
}

// Without the HEAD: division 0's GET learns the size from nginx's 206 answer
// (Content-Length of the rest, which from byte 0 is the whole file), its
// first bytes go straight to the file, and the other divisions follow.
TEST_F(RealPeersDownload, SpeedModeProbesWithTheFirstGet) {
  const std::string content = pattern_bytes(kMiB + 1, 5);
  serve("speed.bin", content);
  for (int divisions : {1, 8}) {
    SCOPED_TRACE(testing::Message() << divisions << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    ItemSpec wanted;
    wanted.url = nginx_->url("/speed.bin");
    wanted.save_path = out_ / ("speed." + std::to_string(divisions));
    wanted.div_count = divisions;
    wanted.buffer_size = kBufferPerDivision * divisions;
    wanted.options = TVN_OPT_SPEED_MODE;
    const int slot = h.start(wanted);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(wait_final(h, slot, 30s), TVN_NOTICE_FINISHED);
    EXPECT_TRUE(file_equals(wanted.save_path, content));
    EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT), 0);
    EXPECT_EQ(h.count(TVN_NOTICE_GET_SENT), divisions);
  }
}

// One download thread serves every item: four items of different sizes and
// division counts at once, each byte-identical.
TEST_F(RealPeersDownload, SeveralItemsAtOnce) {
  struct Job {
    std::string name;
    std::size_t size;
    int divisions;
    std::string content;
    std::string save_path;
    int slot = -1;
  };
  std::vector<Job> jobs = {{"many_a.bin", 8191, 3, {}, {}},
                           {"many_b.bin", kMiB + 1, 16, {}, {}},
                           {"many_c.bin", 3 * kMiB + 7, 8, {}, {}},
                           {"many_d.bin", 1, 1, {}, {}}};
  EngineHarness h(4);
  ASSERT_EQ(h.init_result(), 1);
  // Every slot is reserved before the first start: a small item that ends
  // at once would otherwise free its slot for the next one, and the notices
  // of one slot would mix two items.
  for (Job& job : jobs) {
    job.content = pattern_bytes(job.size, static_cast<std::uint32_t>(job.size) + 3);
    serve(job.name, job.content);
    ItemSpec wanted;
    wanted.url = nginx_->url("/" + job.name);
    wanted.save_path = job.save_path = out_ / job.name;
    wanted.div_count = job.divisions;
    wanted.buffer_size = kBufferPerDivision * job.divisions;
    job.slot = h.fill(wanted);
    ASSERT_GE(job.slot, 0) << job.name;
  }
  for (const Job& job : jobs) ASSERT_EQ(dl_start(&h.ctx(), job.slot), 0) << job.name;
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.name);
    EXPECT_EQ(wait_final(h, job.slot, 30s), TVN_NOTICE_FINISHED);
    EXPECT_TRUE(file_equals(job.save_path, job.content));
  }
  EXPECT_EQ(h.count(TVN_NOTICE_FAILED), 0);
}

// nginx answers a folder asked for without its slash with a 301 whose
// Location is the whole URL with the port; the engine follows it in place
// and saves the folder's index page under the name made from the first URL.
TEST_F(RealPeersDownload, FolderRedirectIsFollowed) {
  const std::string page = pattern_bytes(20000, 9);
  ASSERT_TRUE(make_folder(*served_ / "site"));
  serve("site/index.html", page);
  EngineHarness h;
  ASSERT_EQ(h.init_result(), 1);
  ItemSpec wanted;
  wanted.url = nginx_->url("/site");
  wanted.save_path = out_ / "site.html";
  wanted.div_count = 3;
  wanted.buffer_size = kBufferPerDivision * 3;
  const int slot = h.start(wanted);
  ASSERT_GE(slot, 0);
  ASSERT_EQ(wait_final(h, slot, 20s), TVN_NOTICE_FINISHED);
  EXPECT_TRUE(file_equals(wanted.save_path, page));
  const std::vector<std::string> heads = texts_of(h, TVN_NOTICE_HEAD_SENT);
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_EQ(heads[0], "HEAD /site HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(heads[1], "HEAD /site/ HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  for (const std::string& get : texts_of(h, TVN_NOTICE_GET_SENT))
    EXPECT_EQ(get.rfind("GET /site/ HTTP/1.0\r\n", 0), 0u) << get;
}

// A page fetched into memory: no file, and notice 106 hands over a buffer
// whose divisions hold the whole page in order.
TEST_F(RealPeersDownload, MemoryFetchHandsOverTheWholePage) {
  const std::string page = pattern_bytes(50001, 13);
  serve("page.html", page);
  for (int divisions : {1, 3}) {
    SCOPED_TRACE(testing::Message() << divisions << " divisions");
    EngineHarness h;
    ASSERT_EQ(h.init_result(), 1);
    std::mutex mutex;
    std::string fetched;
    h.answer(TVN_NOTICE_MEMORY_DONE, [&](EngineContext*, int, int, void* data) {
      const auto* disk = static_cast<const DiskIO*>(data);
      std::lock_guard<std::mutex> lock(mutex);
      for (int i = 0; i < *disk->count_ref; ++i)
        fetched.append(disk->buf_ptr[i], static_cast<std::size_t>(disk->buf_fill[i]));
      return 0;
    });
    ItemSpec wanted;
    wanted.url = nginx_->url("/page.html");
    wanted.save_path = out_ / ("page." + std::to_string(divisions));
    wanted.div_count = divisions;
    wanted.buffer_size = kBufferPerDivision * divisions;
    wanted.options = TVN_OPT_MEMORY_FETCH;
    const int slot = h.start(wanted);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(wait_final(h, slot, 20s), TVN_NOTICE_FINISHED);
    EXPECT_EQ(h.count(TVN_NOTICE_MEMORY_DONE), 1);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(fetched.size(), page.size());
    EXPECT_TRUE(fetched == page);
    EXPECT_FALSE(path_exists(wanted.save_path));
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
    ItemSpec wanted;
    wanted.url = url;
    wanted.save_path = out_ / ("proxied." + std::to_string(divisions));
    wanted.div_count = divisions;
    wanted.buffer_size = kBufferPerDivision * divisions;
    wanted.options = TVN_OPT_USE_PROXY;
    wanted.proxy = proxy.address();
    const int slot = h.start(wanted);
    ASSERT_GE(slot, 0);
    ASSERT_EQ(wait_final(h, slot, 30s), TVN_NOTICE_FINISHED);
    EXPECT_TRUE(file_equals(wanted.save_path, content));

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
