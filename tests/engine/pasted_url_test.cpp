// URLs as users paste them, through libtorvane.so against the scripted
// server: the bytes each request carries, the request texts the notices
// show, and the file name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

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
    const std::size_t before = server.request_count();
    EngineHarness e(1);
    ASSERT_EQ(e.wait_final(e.start({.url = row.url, .save_path = dir / ""}), kDeadline),
              TVN_NOTICE_FINISHED);
    std::vector<std::string> sent = e.texts(TVN_NOTICE_HEAD_SENT);
    for (const std::string& get : e.texts(TVN_NOTICE_GET_SENT)) sent.push_back(get);
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
    for (const std::string& text : sent) {
      EXPECT_EQ(text.find("dXMgZXI6cEBzcw"), std::string::npos) << text;
      masked += text.find("\r\nAuthorization: Basic ********\r\n") != std::string::npos;
    }
    EXPECT_EQ(masked, row.auth.empty() ? 0 : asked);
  }
}

}  // namespace
}  // namespace torvane::test
