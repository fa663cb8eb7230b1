// A download's body on its way to the file, over a plain connection and over
// TLS (nginx in front of the scripted server, passing its answers on as they
// come): whatever has arrived is on disk at its place at once, however the
// bytes come; a range ends where it ends, whatever its connection brings
// after; and a stop keeps exactly what arrived, for a resume to complete.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/kept_item.h"
#include "tests/support/real_peers.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

// The parameter: over TLS.
class BodyPath : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (!GetParam()) return;
    TORVANE_REQUIRE_PROGRAM("openssl", TestCerts::program());
    TORVANE_REQUIRE_PROGRAM("nginx", RealPeer::program("nginx"));
    certs_ = std::make_unique<TestCerts>(dir_ / "certs");
    ASSERT_TRUE(certs_->ok()) << certs_->error();
    ::setenv("SSL_CERT_FILE", certs_->ca_file().c_str(), 1);
    // Unbuffered, nginx sends on each piece as it reads it: a byte, a held
    // answer and a close reach the engine as the scripted server sends them.
    nginx_ = std::make_unique<RealPeer>("nginx", dir_.path(),
                                        "proxy_pass " + server_.url("") + "; proxy_buffering off;",
                                        PeerExtras{.cert_file = certs_->cert_file(TestCerts::kGood),
                                                   .key_file = certs_->key_file(TestCerts::kGood)});
    ASSERT_TRUE(nginx_->ok()) << nginx_->error();
  }
  void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

  ItemSetup item(int divisions) const {
    return {.url = GetParam() ? nginx_->url("/f") : server_.url("/f"),
            .save_path = target_,
            .div_count = divisions};
  }
  // Every division of `slot` is past its answer's header and shows `held[d]`
  // bytes done and none waiting in its share, and the file holds them at
  // their places.
  bool on_disk(EngineHarness& e, int slot, const std::string& content,
               const std::vector<std::size_t>& held) {
    const std::size_t len = content.size() / held.size();
    ItemData& record = e.item(slot);
    WideSizes* wide = dl_wide(&e.ctx(), slot);
    const bool counted = EngineHarness::wait_until(
        [&] {
          // The state first: its release publishes the arrays.
          if (load_acquire(record.state) < TVN_STATE_PROBING) return false;
          std::uint64_t* done = wide != nullptr ? load_acquire(wide->range_done) : nullptr;
          std::int32_t* fill = load_acquire(record.disk.buf_fill);
          std::int32_t* status = load_acquire(record.div_status);
          if (done == nullptr || fill == nullptr || status == nullptr) return false;
          for (std::size_t d = 0; d < held.size(); ++d) {
            if (load_acquire(status[d]) < 100 || load_relaxed(done[d]) != held[d] ||
                load_relaxed(fill[d]) != 0)
              return false;
          }
          return true;
        },
        kDeadline);
    const std::string saved = read_file(target_).value_or("");
    for (std::size_t d = 0; counted && d < held.size(); ++d) {
      if (saved.compare(d * len, held[d], content, d * len, held[d]) != 0) return false;
    }
    return counted;
  }

  TempDir dir_;
  const std::string target_ = dir_ / "out.bin";
  ScriptedServer server_;
  std::unique_ptr<TestCerts> certs_;
  std::unique_ptr<RealPeer> nginx_;
};

// Division 0's answer is held after `held` body bytes (all of them at once
// when it opens), or comes a byte at a time, or brings other bytes than the
// file's past its range once division 1 has finished.
TEST_P(BodyPath, ArrivedBytesAreOnDiskAtOnceAndNoneBeyondTheRange) {
  struct Row {
    const char* what;
    std::size_t size;
    int divisions;
    std::size_t held;  // body bytes of division 0 before its gate
    std::chrono::milliseconds drip{0};
    bool runs_past = false;
  } rows[] = {
      {"one read", 1000, 1, 0},
      {"single bytes", 64, 1, 40, std::chrono::milliseconds(1)},
      {"several large reads", 3 * 1024 * 1024 + 2, 1, 2 * 1024 * 1024 + 7},
      {"past the range end", 100000, 2, 0, {}, true},
      {"past the range end, a byte at a time", 100, 2, 0, std::chrono::milliseconds(1), true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto content = std::make_shared<const std::string>(pattern_bytes(row.size, 3));
    const std::size_t len0 = row.size / static_cast<std::size_t>(row.divisions);
    auto foreign = std::make_shared<std::string>(*content);
    foreign->replace(len0, row.size - len0, row.size - len0, '#');
    const auto gate = std::make_shared<Gate>();
    server_.set_handler([content, foreign, gate, row](const HttpRequest& r) {
      HttpReply reply = resource_reply(r, content);
      if (r.method != "GET" || r.range_start() > 0) return reply;
      if (row.runs_past) reply.body = foreign;
      reply.drip = row.drip;
      return held(reply, gate, row.held);
    });
    EngineHarness e(1);
    const int slot = e.start(item(row.divisions));
    ASSERT_GE(slot, 0);
    EXPECT_TRUE(row.runs_past ? e.wait_division_done(slot, 1, kDeadline)
                              : on_disk(e, slot, *content, {row.held}));
    gate->open();
    EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
    EXPECT_TRUE(read_file(target_) == *content);
    std::remove(target_.c_str());
  }
}

// Both divisions are held in the middle of their ranges and the item
// stopped: the kept record counts exactly the bytes that arrived, and its
// resume in a fresh engine asks for the rest only and completes the file.
TEST_P(BodyPath, AStopKeepsExactlyWhatArrivedForTheResume) {
  const std::size_t size = 600000, held = 123457;
  const auto content = std::make_shared<const std::string>(pattern_bytes(size, 9));
  const auto gate = std::make_shared<Gate>();
  server_.set_handler([content, gate, held](const HttpRequest& r) {
    return test::held(resource_reply(r, content), gate, held);
  });
  KeptItem kept;
  {
    EngineHarness e(1);
    kept.keep_stopped(e);
    const int slot = e.start(item(2));
    ASSERT_GE(slot, 0);
    EXPECT_TRUE(on_disk(e, slot, *content, {held, held}));
    ASSERT_EQ(dl_stop(&e.item(slot), -1), 0);
    ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);
  }
  ASSERT_NE(kept.record(), nullptr);
  EXPECT_EQ(kept.done, (std::vector<std::uint64_t>{held, held}));
  gate->open();
  const std::size_t before = server_.request_count();
  EngineHarness e(1);
  const int slot = kept.resume(e);
  ASSERT_GE(slot, 0);
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_TRUE(read_file(target_) == *content);
  EXPECT_EQ(server_.get_starts(before), (std::vector<std::int64_t>{held, size / 2 + held}));
}

INSTANTIATE_TEST_SUITE_P(Connections, BodyPath, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Tls" : "Plain";
                         });

}  // namespace
}  // namespace torvane::test
