// HTTPS downloads through libtorvane.so against real peers on loopback:
// nginx over TLS with certificates made at test time, tinyproxy tunnelling
// with CONNECT, and a server that fails handshakes on purpose. OpenSSL
// trusts the test CA only (SSL_CERT_FILE), so a certificate that passes here
// passed a real verification. And a download's body on its way to the file,
// over a plain connection and over TLS (nginx in front of the scripted
// server, passing its answers on as they come): whatever has arrived is on
// disk at its place at once, however the bytes come; a range ends where it
// ends, whatever its connection brings after; and a stop keeps exactly what
// arrived, for a resume to complete.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
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

constexpr auto kDeadline = std::chrono::seconds(30);

int occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Test certificates, OpenSSL pointed at their CA, and nginx over TLS with
// the good certificate serving a folder that also takes the downloads (or
// passing on what `location_lines` say).
class Https : public testing::Test {
 protected:
  void SetUp() override { start_tls(); }
  void start_tls(const std::string& location_lines = "") {
    TORVANE_REQUIRE_PROGRAM("openssl", TestCerts::program());
    TORVANE_REQUIRE_PROGRAM("nginx", RealPeer::program("nginx"));
    certs_ = std::make_unique<TestCerts>(dir_ / "certs");
    ASSERT_TRUE(certs_->ok()) << certs_->error();
    // Read when an engine builds its TLS context, so before any harness.
    ::setenv("SSL_CERT_FILE", certs_->ca_file().c_str(), 1);
    ::setenv("SSL_CERT_DIR", (dir_ / "certs/none").c_str(), 1);
    serve(TestCerts::kGood, location_lines);
  }
  void TearDown() override {
    ::unsetenv("SSL_CERT_FILE");
    ::unsetenv("SSL_CERT_DIR");
  }
  // (Re)starts nginx with the certificate of `kind`.
  void serve(TestCerts::Kind kind, const std::string& location_lines = "") {
    nginx_.reset();
    nginx_ = std::make_unique<RealPeer>(
        "nginx", dir_.path(), location_lines,
        PeerExtras{.cert_file = certs_->cert_file(kind), .key_file = certs_->key_file(kind)});
    ASSERT_TRUE(nginx_->ok()) << nginx_->error();
  }
  // Into save_; the final notice.
  int download(EngineHarness& h, const std::string& url, int divisions = 1,
               std::uint32_t options = 0, std::optional<std::string> proxy = {}) {
    return h.wait_final(h.start({url, save_, divisions, 0, options, std::move(proxy)}), kDeadline);
  }

  TempDir dir_;
  const std::string save_ = dir_ / "saved";
  std::unique_ptr<TestCerts> certs_;
  std::unique_ptr<RealPeer> nginx_;
};

// Fewer bytes than divisions, one past a power of two, and TLS records across shares.
TEST_F(Https, NginxFileIsByteIdenticalOverEveryDivisionCount) {
  for (const std::size_t size : {1, 1024 * 1024 + 1, 64 * 1024 * 1024}) {
    const std::string content = pattern_bytes(size, static_cast<std::uint32_t>(size));
    ASSERT_TRUE(write_file(dir_ / "served", content));
    for (int divisions : {1, 4, 16}) {
      SCOPED_TRACE(testing::Message() << size << " bytes over " << divisions << " divisions");
      EngineHarness h;
      ASSERT_EQ(download(h, nginx_->url("/served"), divisions), TVN_NOTICE_FINISHED)
          << testing::PrintToString(h.texts(TVN_NOTICE_MESSAGE));
      EXPECT_TRUE(read_file(save_) == content);
      EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT), 1);
      EXPECT_EQ(h.count(TVN_NOTICE_GET_SENT), std::clamp<std::size_t>(size, 1, divisions));
      std::remove(save_.c_str());
    }
  }
}

// Only the redirect back to plain http is said.
TEST_F(Https, SpeedModeMemoryFetchAndRedirectsBetweenHttpAndHttps) {
  const auto content = std::make_shared<const std::string>(pattern_bytes(1024 * 1024 + 1, 5));
  ASSERT_TRUE(write_file(dir_ / "served", *content));
  ScriptedServer plain([&](const HttpRequest& r) {
    return r.target == "/plain" ? resource_reply(r, content)
                                : redirect_reply(302, nginx_->url("/served"));
  });
  ASSERT_NO_FATAL_FAILURE(
      serve(TestCerts::kGood, "if ($uri = /back) { return 302 " + plain.url("/plain") + "; }"));
  const std::string downgrade =
      "redirected from https:// to an unencrypted URL: " + plain.url("/plain");
  for (const auto& [what, url, options, said] :
       {std::tuple<const char*, std::string, std::uint32_t, std::vector<std::string>>{
            "speed mode", nginx_->url("/served"), TVN_OPT_SPEED_MODE, {}},
        {"redirected from http", plain.url("/moved"), 0, {}},
        {"redirected back to http", nginx_->url("/back"), 0, {downgrade}}}) {
    SCOPED_TRACE(what);
    EngineHarness h;
    ASSERT_EQ(download(h, url, 4, options), TVN_NOTICE_FINISHED)
        << testing::PrintToString(h.texts(TVN_NOTICE_MESSAGE));
    EXPECT_TRUE(read_file(save_) == *content);
    EXPECT_EQ(h.texts(TVN_NOTICE_MESSAGE), said);
    std::remove(save_.c_str());
  }

  // Larger than the 32768-byte buffer the fetch starts with.
  const std::string page = "<html>" + pattern_bytes(100000, 9) + "</html>";
  ASSERT_TRUE(write_file(dir_ / "page.html", page));
  EngineHarness h;
  std::string received;
  h.answer(TVN_NOTICE_MEMORY_DONE, [&](EngineContext*, int, int, void* data) {
    const auto* disk = static_cast<DiskIO*>(data);
    received.assign(disk->buf_block, static_cast<std::size_t>(disk->buf_fill[0]));
    return 0;
  });
  ASSERT_EQ(download(h, nginx_->url("/page.html"), 1, TVN_OPT_MEMORY_FETCH), TVN_NOTICE_FINISHED);
  EXPECT_EQ(received, page);
  EXPECT_FALSE(path_exists(save_));
}

// Through tinyproxy: one connection, the reason, no request; TLSVerify=0 said once.
TEST_F(Https, AFaultyCertificateFailsWithItsReasonUnlessVerificationIsOff) {
  TORVANE_REQUIRE_PROGRAM("tinyproxy", RealPeer::program("tinyproxy"));
  const std::string content = pattern_bytes(300000, 3);
  ASSERT_TRUE(write_file(dir_ / "served", content));
  const struct {
    TestCerts::Kind kind;
    const char* reason;
  } rows[] = {{TestCerts::kWrongHost, "IP address mismatch"},
              {TestCerts::kExpired, "certificate has expired"},
              {TestCerts::kUnknownCa, "unable to get local issuer certificate"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reason);
    ASSERT_NO_FATAL_FAILURE(serve(row.kind));
    TempDir proxy_dir;
    RealPeer proxy("tinyproxy", proxy_dir.path(), "", {.connect_port = nginx_->port()});
    ASSERT_TRUE(proxy.ok()) << proxy.error();
    const auto through = [&](EngineHarness& h, std::uint32_t options) {
      return download(h, nginx_->url("/served"), 4, TVN_OPT_USE_PROXY | options,
                      "127.0.0.1:" + std::to_string(proxy.port()));
    };
    {
      EngineHarness h;
      ASSERT_EQ(through(h, 0), TVN_NOTICE_FAILED);
      EXPECT_EQ(h.texts(TVN_NOTICE_MESSAGE),
                std::vector<std::string>{std::string("certificate verify failed: ") + row.reason +
                                         " (127.0.0.1)"});
      EXPECT_EQ(h.count(TVN_NOTICE_HEAD_SENT) + h.count(TVN_NOTICE_GET_SENT), 0);
      EXPECT_EQ(read_file(save_).value_or(""), "");
      const std::string log = read_file(proxy_dir / "tinyproxy.log").value_or("");
      EXPECT_EQ(occurrences(log, "): CONNECT "), 1) << log;
    }
    EngineHarness h;
    ASSERT_EQ(through(h, TVN_OPT_NO_TLS_VERIFY), TVN_NOTICE_FINISHED)
        << testing::PrintToString(h.texts(TVN_NOTICE_MESSAGE));
    EXPECT_TRUE(read_file(save_) == content);
    std::string shown;
    for (const std::string& text : h.texts(TVN_NOTICE_GET_SENT)) shown += text;
    EXPECT_EQ(occurrences(h.texts(TVN_NOTICE_HEAD_SENT).at(0) + shown, "TLSVerify=0"), 1);
    std::remove(save_.c_str());
  }
}

// nginx's X-Resumed: an unverified session never serves a verified item.
TEST_F(Https, ConnectionsResumeTheirServersSessionsOnlyUnderTheSameVerification) {
  ASSERT_TRUE(write_file(dir_ / "served", pattern_bytes(300000, 4)));
  ASSERT_NO_FATAL_FAILURE(serve(TestCerts::kGood, "add_header X-Resumed $ssl_session_reused;"));
  EngineHarness h;
  int runs = 0;  // one slot serves each item in turn
  // "r" or "." for the HEAD's answer, then for each GET's.
  const auto run = [&](std::uint32_t options) {
    const std::size_t heads = h.texts(TVN_NOTICE_HEAD_HEADER).size();
    const std::size_t gets = h.texts(TVN_NOTICE_GET_HEADER).size();
    const int slot = h.start({nginx_->url("/served"), save_, 4, 0, options});
    EXPECT_TRUE(h.wait_count(TVN_NOTICE_SLOT_FREE, slot, ++runs, kDeadline));
    EXPECT_EQ(h.count(TVN_NOTICE_FINISHED), runs);
    std::remove(save_.c_str());
    std::string marks;
    for (const auto& [code, from] :
         {std::pair{TVN_NOTICE_HEAD_HEADER, heads}, {TVN_NOTICE_GET_HEADER, gets}}) {
      const std::vector<std::string> all = h.texts(code);
      for (std::size_t i = from; i < all.size(); ++i) {
        const std::size_t at = all[i].find("X-Resumed: ");
        marks += at == std::string::npos ? '?' : all[i][at + 11];
      }
    }
    return marks;
  };
  EXPECT_EQ(run(TVN_OPT_NO_TLS_VERIFY).at(0), '.');
  EXPECT_EQ(run(0).at(0), '.');
  // The next items' connections resume. Their four GETs connect at once, so
  // one of them may share the last kept session with a GET whose resumption
  // spends it first: then it starts afresh.
  for (int again = 0; again < 2; ++again) {
    const std::string marks = run(0);
    ASSERT_EQ(marks.size(), 5u) << marks;
    EXPECT_EQ(marks[0], 'r') << again;
    EXPECT_GE(std::count(marks.begin(), marks.end(), 'r'), 4) << marks;
  }
}

// A proxy that refuses the CONNECT (another port allowed only) fails the item.
TEST_F(Https, ATunnelRefusedByTinyproxyFailsTheItem) {
  TORVANE_REQUIRE_PROGRAM("tinyproxy", RealPeer::program("tinyproxy"));
  TempDir refusing_dir;
  RealPeer refusing("tinyproxy", refusing_dir.path(), "", {.connect_port = nginx_->port() + 1});
  ASSERT_TRUE(refusing.ok()) << refusing.error();
  EngineHarness h;
  EXPECT_EQ(download(h, nginx_->url("/proxied?v=1"), 3, TVN_OPT_USE_PROXY,
                     "127.0.0.1:" + std::to_string(refusing.port())),
            TVN_NOTICE_FAILED);
  EXPECT_THAT(h.texts(TVN_NOTICE_MESSAGE),
              testing::ElementsAre(testing::StartsWith("the proxy refused the tunnel: HTTP/1.")));
  EXPECT_EQ(read_file(save_).value_or(""), "");
}

// A server that reads a handshake's first flight and closes: each close costs one of the
// item's three attempts, the reason said once; one that says nothing is released by a stop.
TEST(HttpsHandshake, ACloseUsesOneAttemptAndAStallIsReleasedByAStop) {
  TempDir dir;
  const auto hellos = [](const ScriptedServer& server) {
    int n = 0;
    for (const HttpRequest& r : server.requests()) n += r.raw.rfind("\x16\x03", 0) == 0;
    return n;
  };
  ScriptedServer closing([](const HttpRequest&) { return HttpReply{.send_limit = 0}; }, true);
  ScriptedServer stalling([](const HttpRequest&) { return HttpReply::silence(); }, true);
  EngineHarness h;
  EXPECT_EQ(h.wait_final(
                h.start({.url = "https" + closing.url("/f").substr(4), .save_path = dir / "out"}),
                kDeadline),
            TVN_NOTICE_FAILED);
  h.end();
  EXPECT_EQ(h.texts(TVN_NOTICE_MESSAGE),
            std::vector<std::string>{"TLS handshake failed: the server closed the connection (" +
                                     closing.url(")").substr(7)});
  EXPECT_EQ(std::pair(closing.request_count(), hellos(closing)), std::pair(std::size_t{3}, 3));
  EngineHarness e;
  const int slot = e.start(
      {.url = "https" + stalling.url("/f").substr(4), .save_path = dir / "out", .div_count = 2});
  ASSERT_TRUE(EngineHarness::wait_until([&] { return hellos(stalling) >= 1; }, kDeadline));
  ASSERT_TRUE(e.stop_all());
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);
}

// The parameter: over TLS.
class BodyPath : public Https, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    // Unbuffered, nginx sends on each piece as it reads it: a byte, a held
    // answer and a close reach the engine as the scripted server sends them.
    if (GetParam()) start_tls("proxy_pass " + server_.url("") + "; proxy_buffering off;");
  }

  ItemSetup item(int divisions) const {
    return {.url = GetParam() ? nginx_->url("/f") : server_.url("/f"),
            .save_path = save_,
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
          for (std::size_t d = 0; d < held.size(); ++d)
            if (load_acquire(status[d]) < 100 || load_relaxed(done[d]) != held[d] ||
                load_relaxed(fill[d]) != 0)
              return false;
          return true;
        },
        kDeadline);
    const std::string saved = read_file(save_).value_or("");
    for (std::size_t d = 0; counted && d < held.size(); ++d)
      if (saved.compare(d * len, held[d], content, d * len, held[d]) != 0) return false;
    return counted;
  }

  ScriptedServer server_;
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
    EXPECT_TRUE(read_file(save_) == *content);
    std::remove(save_.c_str());
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
  EXPECT_TRUE(read_file(save_) == *content);
  EXPECT_EQ(server_.get_starts(before), (std::vector<std::int64_t>{held, size / 2 + held}));
}

INSTANTIATE_TEST_SUITE_P(Connections, BodyPath, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Tls" : "Plain";
                         });

}  // namespace
}  // namespace torvane::test
