// How the engine treats the answers a server gives: accepted statuses,
// redirects, error answers with their attempts, and the ignore switches.
#include <atomic>
#include <cstdio>

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

// A server that gives every request the same answer: which answers are
// saved, and how many requests the attempts allow before the item fails.
TEST_F(DownloadTest, SameAnswerEveryTime) {
  const std::string far = server_.url("/" + std::string(2100, 'a'));
  struct Case {
    const char* what;
    HttpReply reply;
    std::uint32_t options;
    int retry;
    int final;
    std::size_t requests;  // all HEADs: no answer gets as far as a GET
    const char* saved;
  } cases[] = {
      {"302 not followed", status_reply(302, "Found", "moved away", {"location: /new"}),
       TVN_OPT_IGNORE_REDIRECTION, 3, TVN_NOTICE_FINISHED, 2, "moved away"},
      {"500 ignored", status_reply(500, "Oops", "error page"), TVN_OPT_IGNORE_SERVER_ERROR, 3,
       TVN_NOTICE_FINISHED, 2, "error page"},
      {"503 three times", status_reply(503, "Busy", "busy"), 0, 3, TVN_NOTICE_FAILED, 3, nullptr},
      {"unreadable status", HttpReply::raw("garbage\r\n\r\n"), 0, 2, TVN_NOTICE_FAILED, 2, nullptr},
      {"close before the header", HttpReply::raw("HTTP/1.0 2"), 0, 2, TVN_NOTICE_FAILED, 2, nullptr},
      {"location too long", redirect_reply(301, far), 0, 3, TVN_NOTICE_FAILED, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EngineHarness engine(1, 20);  // a fresh engine: the slot's notices are this case's alone
    const std::size_t before = server_.request_count();
    server_.set_handler([&](const HttpRequest&) { return c.reply; });
    ItemSetup s = item_for("/f", 1, c.options);
    s.retry = c.retry;
    EXPECT_EQ(engine.wait_final(engine.start(s), kDeadline), c.final);
    EXPECT_EQ(server_.request_count() - before, c.requests);
    if (c.saved != nullptr) {
      EXPECT_EQ(saved(), c.saved);
    }
    std::remove(target().c_str());
  }
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
