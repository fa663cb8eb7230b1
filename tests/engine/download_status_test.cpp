// How the engine treats the answers a server gives: accepted statuses,
// redirects, error answers with their attempts, and the ignore switches.
#include <atomic>

#include "tests/engine/download_fixture.h"

namespace torvane::test {
namespace {

TEST_F(DownloadTest, ExactRequestTexts) {
  auto body = content(100);
  server_.set_handler(serve_resource(body));
  ItemSetup s = item_for("/dir/f.bin?x=1", 1);
  s.user_agent = "Agent/2";
  s.extra_header = "Cookie: ID=7\r\n";
  ASSERT_EQ(run(s), TVN_NOTICE_FINISHED);
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw, "HEAD /dir/f.bin?x=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(requests[1].raw,
            "GET /dir/f.bin?x=1 HTTP/1.0\r\nRange: bytes=0-\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
            "User-Agent: Agent/2\r\nCookie: ID=7\r\nConnection: close\r\n\r\n");
}

TEST_F(DownloadTest, LowerCaseLocationIsFollowed) {
  auto body = content(5000);
  server_.set_handler([&](const HttpRequest& r) {
    if (r.target == "/old") return redirect_reply(302, server_.url("/new"), "location");
    return resource_reply(r, body);
  });
  ASSERT_EQ(run(item_for("/old", 2)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
}

TEST_F(DownloadTest, IgnoreRedirectionSavesTheRedirectBody) {
  server_.set_handler([&](const HttpRequest&) {
    return status_reply(302, "Found", "moved away", {"location: " + server_.url("/new")});
  });
  ASSERT_EQ(run(item_for("/old", 1, TVN_OPT_IGNORE_REDIRECTION)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), "moved away");
}

TEST_F(DownloadTest, ThirdErrorAnswerFailsTheDivision) {
  server_.set_handler([](const HttpRequest&) { return status_reply(503, "Busy", "busy"); });
  ItemSetup s = item_for("/f", 1);
  s.retry = 3;
  ASSERT_EQ(run(s), TVN_NOTICE_FAILED);
  EXPECT_EQ(server_.request_count(), 3u);  // three HEADs, no GET
}

TEST_F(DownloadTest, IgnoredServerErrorIsSaved) {
  server_.set_handler([](const HttpRequest&) { return status_reply(500, "Oops", "error page"); });
  ASSERT_EQ(run(item_for("/f", 1, TVN_OPT_IGNORE_SERVER_ERROR)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), "error page");
}

TEST_F(DownloadTest, TooLongLocationFailsWithoutTouchingTheUrl) {
  const std::string far = server_.url("/" + std::string(2100, 'a'));
  server_.set_handler([&](const HttpRequest&) { return redirect_reply(301, far); });
  ItemSetup s = item_for("/start", 1);
  ASSERT_EQ(run(s), TVN_NOTICE_FAILED);
  EXPECT_EQ(server_.request_count(), 1u);
}

TEST_F(DownloadTest, UnreadableStatusUsesAttempts) {
  server_.set_handler([](const HttpRequest&) { return HttpReply::raw("garbage\r\n\r\n"); });
  ItemSetup s = item_for("/f", 1);
  s.retry = 2;
  ASSERT_EQ(run(s), TVN_NOTICE_FAILED);
  EXPECT_EQ(server_.request_count(), 2u);
}

TEST_F(DownloadTest, PartialAnswerAtTheWrongOffsetIsRefused) {
  auto body = content(100000);
  std::atomic<int> lies{0};
  server_.set_handler([&](const HttpRequest& r) {
    if (r.method == "GET" && r.range_start() > 0 && lies.fetch_add(1) == 0) {
      // Claims to start at 0 although a later byte was asked for.
      return HttpReply::raw(
          "HTTP/1.0 206 Partial\r\nContent-Range: bytes 0-99/100000\r\n"
          "Content-Length: 100\r\n\r\n" +
          body->substr(0, 100));
    }
    return resource_reply(r, body);
  });
  ASSERT_EQ(run(item_for("/f", 2)), TVN_NOTICE_FINISHED);
  EXPECT_EQ(saved(), *body);
  EXPECT_EQ(lies.load(), 2);  // the refused answer cost an attempt and was asked again
}

}  // namespace
}  // namespace torvane::test
