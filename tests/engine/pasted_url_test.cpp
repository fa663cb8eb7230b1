// URLs with a user part through libtorvane.so against the scripted server:
// the bytes each request carries and the request texts the notices show.
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

// Escapes, fragments and file names of pasted URLs: the url_split and file name tables.
TEST(PastedUrl, RequestsCarryTheTargetAndCredentialsAsTheServerNeedsThem) {
  ScriptedServer server;
  const auto body = std::make_shared<const std::string>(pattern_bytes(5000, 3));
  const std::string with_user = "http://us%20er:p%40ss@" + server.url("/f.bin").substr(7);
  const std::string kAuth = "\r\nAuthorization: Basic dXMgZXI6cEBzcw==\r\n";
  server.set_handler([&](const HttpRequest& r) {
    return r.target == "/moved" ? redirect_reply(302, with_user + "#top") : resource_reply(r, body);
  });
  for (const std::string& url : {with_user, server.url("/moved")}) {  // a Location with a user part
    SCOPED_TRACE(url);
    TempDir dir;
    const std::size_t before = server.request_count();
    EngineHarness e(1);
    ASSERT_EQ(e.wait_final(e.start({.url = url, .save_path = dir / "out"}), kDeadline),
              TVN_NOTICE_FINISHED);
    EXPECT_TRUE(read_file(dir / "out") == *body);
    const auto requests = server.requests();
    int asked = 0;
    for (std::size_t i = before; i < requests.size(); ++i) {
      const std::string& raw = requests[i].raw;
      if (requests[i].target == "/moved") continue;
      ++asked;
      EXPECT_EQ(requests[i].target, "/f.bin");
      EXPECT_NE(raw.find("\r\nHost: 127.0.0.1\r\n"), std::string::npos) << raw;
      EXPECT_NE(raw.find(kAuth), std::string::npos) << raw;
    }
    EXPECT_GE(asked, 2);  // the HEAD and a GET
    std::vector<std::string> shown = e.texts(TVN_NOTICE_HEAD_SENT);
    for (const std::string& get : e.texts(TVN_NOTICE_GET_SENT)) shown.push_back(get);
    int masked = 0;
    for (const std::string& text : shown) {
      EXPECT_EQ(text.find("dXMgZXI6cEBzcw"), std::string::npos) << text;
      masked += text.find("\r\nAuthorization: Basic ********\r\n") != std::string::npos;
    }
    EXPECT_EQ(masked, asked);
  }
}

}  // namespace
}  // namespace torvane::test
