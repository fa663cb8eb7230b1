// URLs as users paste them, through libtorvane.so against the scripted
// server: the bytes each request carries, the request texts the notices
// show, the file name, and a host the engine cannot reach said at once.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

// Collects the texts of one notice code (they arrive on the engine's threads).
struct Texts {
  std::mutex mutex;
  std::vector<std::string> seen;
  EngineHarness::Answer answer() {
    return [this](EngineContext*, int, int, void* data) {
      const std::lock_guard<std::mutex> lock(mutex);
      seen.emplace_back(static_cast<const char*>(data));
      return 0;
    };
  }
};

TEST(PastedUrl, RequestsCarryTheTargetAndCredentialsAsTheServerNeedsThem) {
  ScriptedServer server;
  const auto body = std::make_shared<const std::string>(pattern_bytes(5000, 3));
  const std::string origin = server.url("");  // "http://127.0.0.1:port"
  const std::string with_user = "http://us%20er:p%40ss@" + origin.substr(7);
  const std::string kAuth = "Authorization: Basic dXMgZXI6cEBzcw==\r\n";
  server.set_handler([&](const HttpRequest& r) {
    return r.target == "/moved" ? redirect_reply(302, with_user + "/f.bin#top")
                                : resource_reply(r, body);
  });
  const struct {
    std::string url, target, file, auth;
  } rows[] = {
      {origin + "/a b.bin?x=1 2", "/a%20b.bin?x=1%202", "a b.bin", ""},
      {origin + "/f.bin#chapter 2", "/f.bin", "f.bin", ""},
      {origin + "/%41%zz\"", "/%41%25zz%22", "%41%zz\"", ""},
      {with_user + "/f.bin", "/f.bin", "f.bin", kAuth},
      {origin + "/moved", "/f.bin", "moved", kAuth},  // a Location with a user part
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    TempDir dir;
    Texts sent;
    const std::size_t before = server.request_count();
    {
      EngineHarness e(1);
      e.answer(TVN_NOTICE_HEAD_SENT, sent.answer());
      e.answer(TVN_NOTICE_GET_SENT, sent.answer());
      ASSERT_EQ(e.wait_final(e.start({.url = row.url, .save_path = dir / ""}), kDeadline),
                TVN_NOTICE_FINISHED);
    }
    EXPECT_TRUE(read_file(dir / row.file) == *body) << row.file;
    const auto requests = server.requests();
    int asked = 0;
    for (std::size_t i = before; i < requests.size(); ++i) {
      const std::string& raw = requests[i].raw;
      if (requests[i].target == "/moved") continue;
      ++asked;
      EXPECT_EQ(requests[i].target, row.target);
      EXPECT_NE(raw.find("\r\nHost: 127.0.0.1\r\n"), std::string::npos) << raw;
      EXPECT_EQ(raw.find("p%40ss"), std::string::npos) << raw;
      EXPECT_EQ(raw.find(kAuth) != std::string::npos, !row.auth.empty()) << raw;
    }
    EXPECT_GE(asked, 2);  // the HEAD and a GET
    int masked = 0;
    for (const std::string& text : sent.seen) {
      EXPECT_EQ(text.find("dXMgZXI6cEBzcw"), std::string::npos) << text;
      masked += text.find("\r\nAuthorization: Basic ********\r\n") != std::string::npos;
    }
    EXPECT_EQ(masked, row.auth.empty() ? 0 : asked);
  }
}

TEST(PastedUrl, AnIpv6HostFailsAtOnceWithItsReason) {
  TempDir dir;
  EngineHarness e(1);
  Texts messages;
  e.answer(TVN_NOTICE_MESSAGE, messages.answer());
  const int slot = e.start({.url = "http://[::1]:1/x", .save_path = dir / ""});
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FAILED);
  const std::lock_guard<std::mutex> lock(messages.mutex);
  EXPECT_EQ(messages.seen, std::vector<std::string>{"IPv6 addresses are not supported yet: [::1]"});
}

}  // namespace
}  // namespace torvane::test
