// Answers that must never end in a wrong file reported finished: each case
// ends byte-identical, or failed with a reason.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);
using Body = std::shared_ptr<const std::string>;

Body bytes(std::size_t size, std::uint32_t seed = 3) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

// GETs of `target` from request `from` on.
int gets_for(const ScriptedServer& server, const std::string& target, std::size_t from) {
  int n = 0;
  const auto all = server.requests();
  for (std::size_t i = from; i < all.size(); ++i)
    n += all[i].method == "GET" && all[i].target == target;
  return n;
}

// Races the divisions that learn the whole file is coming against division 0
// at the end of its range: 60 runs per size, ten at a time on one engine.
TEST(Answers, ServerIgnoringRangesGivesTheWholeFileEveryRun) {
  constexpr int kParallel = 10;
  TempDir dir;
  for (const std::size_t size : {1, 3, 10240, 100000, 1 << 20}) {
    const Body body = bytes(size);
    ScriptedServer server(serve_resource(body, {.ignore_ranges = true}));
    for (const int divisions : {1, 4, 8}) {
      for (const std::uint32_t options : {0u, std::uint32_t{TVN_OPT_SPEED_MODE}}) {
        SCOPED_TRACE(testing::Message()
                     << size << " bytes, " << divisions << " divisions, options " << options);
        EngineHarness e(kParallel);
        store_relaxed(e.ctx().wait_ms, 2);
        const std::size_t before = server.request_count();
        std::vector<ItemSetup> items;
        for (int k = 0; k < kParallel; ++k) {
          items.push_back({.url = server.url("/r" + std::to_string(k)),
                           .save_path = dir / ("r" + std::to_string(k)),
                           .div_count = divisions,
                           .buffer_size = 40000 * divisions,
                           .options = options});
        }
        const std::vector<int> slots = e.start_together(items);
        for (int k = 0; k < kParallel; ++k) {
          const std::string file = dir / ("r" + std::to_string(k));
          EXPECT_EQ(e.wait_final(slots[k], kDeadline), TVN_NOTICE_FINISHED);
          EXPECT_TRUE(read_file(file) == *body);
          EXPECT_LE(gets_for(server, "/r" + std::to_string(k), before), divisions + 1);
          std::remove(file.c_str());
        }
      }
    }
  }
}

// Answers whose framing, lengths, status or version contradict what they
// carry: the whole file (`saved`) or a failure, never a wrong file.
TEST(Answers, ContradictoryAnswersFailOrStartOver) {
  const Body body = bytes(300000), other = bytes(300000, 9), small = bytes(5000);
  std::atomic<int> calls{0};
  const auto raw = [](std::string bytes) {
    return [bytes](const HttpRequest& r) {
      return HttpReply::raw(r.method == "HEAD" ? bytes.substr(0, bytes.find("\r\n\r\n") + 4)
                                               : bytes);
    };
  };
  // A HEAD that names a size other than the file's.
  const auto small_head = [&](bool ignore_ranges) {
    return [&, ignore_ranges](const HttpRequest& r) {
      return r.method == "HEAD" ? status_reply(200, "OK", std::string(1000, 'h'))
                                : resource_reply(r, body, {.ignore_ranges = ignore_ranges});
    };
  };
  const std::string chunked = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string framed = chunked_body(*body, 1000);
  struct Row {
    const char* what;
    HttpHandler handler;
    int divisions;
    Body saved;  // null: the item fails
    int max_gets = 1000;
    bool reason = true;  // a message notice says why
  } rows[] = {
      {"two Content-Length lines that differ",
       raw("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\nContent-Length: 4000\r\n\r\n" + *small), 1,
       nullptr},
      {"HEAD smaller than the file, ranges kept", small_head(false), 4, body, 4 + 4},
      // After the restart, division 0 may already have read past its old
      // range when the others show the ranges ignored: one more GET then.
      {"HEAD smaller than the file, ranges ignored", small_head(true), 4, body, 4 + 4 + 1},
      {"a size that changes on every answer",
       [&](const HttpRequest& r) { return resource_reply(r, bytes(1000 + calls++)); }, 2, nullptr,
       2 * 3 + 1},
      {"chunked, one division", raw(chunked + framed), 1, body, 1, false},
      {"chunked behind a HEAD that gave a length",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? resource_reply(r, body) : HttpReply::raw(chunked + framed);
       },
       4, body, 4 + 1},
      {"chunked, cut before the last chunk", raw(chunked + framed.substr(0, framed.size() - 40)), 1,
       nullptr, 1000, false},
      {"302 without Location", raw("HTTP/1.0 302 Found\r\nContent-Length: 5\r\n\r\nmoved"), 1,
       nullptr, 0},
      {"206 longer than its Content-Range",
       raw("HTTP/1.0 206 Partial\r\nContent-Range: bytes 0-99/5000\r\nContent-Length: "
           "5000\r\n\r\n" +
           *small),
       1, nullptr, 1000, false},
      {"200 closed before its Content-Length, HEAD without one",
       [&](const HttpRequest& r) {
         HttpReply reply = resource_reply(r, body);
         if (r.method == "HEAD") return HttpReply::raw("HTTP/1.0 200 OK\r\n\r\n");
         reply.send_limit = reply.head.size() + 1000;
         return reply;
       },
       1, nullptr, 1000, false},
      {"the file changes after the first answer",
       [&](const HttpRequest& r) {
         return calls++ < 2 ? resource_reply(r, body, {.validator = "\"v1\""})
                            : resource_reply(r, other, {.validator = "\"v2\""});
       },
       4, other, 4 + 4},
      {"two servers with different versions by turns",
       [&](const HttpRequest& r) {
         return calls++ % 2
                    ? resource_reply(r, body, {.validator = "Mon, 01 Jun 2026 10:00:00 GMT"})
                    : resource_reply(r, other, {.validator = "Tue, 02 Jun 2026 10:00:00 GMT"});
       },
       4, nullptr},
  };
  TempDir dir;
  const std::string target = dir / "out.bin";
  ScriptedServer server;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    calls = 0;
    server.set_handler(row.handler);
    const std::size_t before = server.request_count();
    EngineHarness e(1);
    EXPECT_EQ(e.wait_final(e.start({.url = server.url("/f"),
                                    .save_path = target,
                                    .div_count = row.divisions,
                                    .buffer_size = 40000 * row.divisions}),
                           kDeadline),
              row.saved ? TVN_NOTICE_FINISHED : TVN_NOTICE_FAILED);
    e.end();
    if (row.saved) {
      EXPECT_TRUE(read_file(target) == *row.saved);
    }
    EXPECT_LE(gets_for(server, "/f", before), row.max_gets);
    if (row.reason) {
      EXPECT_GT(e.count(TVN_NOTICE_MESSAGE), 0);
    }
    std::remove(target.c_str());
  }
}

// Relative targets are taken against the URL that was asked; a redirect to
// itself ends after ten hops with a reason instead of asking for ever.
TEST(Answers, RedirectsResolveRelativeTargetsAndEndAfterTen) {
  TempDir dir;
  const Body body = bytes(5000);
  ScriptedServer server([&](const HttpRequest& r) {
    if (r.target == "/loop") return status_reply(302, "Found", {}, {"Location: /loop"});
    if (r.target == "/a/b/rel")
      return status_reply(302, "Found", {}, {"Location: ../c/./file.bin#x"});
    if (r.target == "/a/c/file.bin") return resource_reply(r, body);
    return status_reply(404, "Not Found");
  });
  EngineHarness e(2);
  const std::vector<int> slots =
      e.start_together({{.url = server.url("/a/b/rel"), .save_path = dir / "found"},
                        {.url = server.url("/loop"), .save_path = dir / "loop"}});
  const int found = slots[0], loop = slots[1];
  EXPECT_EQ(e.wait_final(found, kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_TRUE(read_file(dir / "found") == *body);
  EXPECT_EQ(e.wait_final(loop, kDeadline), TVN_NOTICE_FAILED);
  EXPECT_EQ(e.count(TVN_NOTICE_MESSAGE, loop), 1);
  int asked = 0;
  for (const HttpRequest& r : server.requests()) asked += r.target == "/loop";
  EXPECT_EQ(asked, 11);
}

// A server that sends its header and closes, every time: each such answer
// uses an attempt even under AutoResume, so the item ends.
TEST(Answers, AnswersWithoutABodyByteUseUpTheAttempts) {
  TempDir dir;
  const Body body = bytes(5000);
  ScriptedServer server([&](const HttpRequest& r) {
    HttpReply reply = resource_reply(r, body);
    if (r.method == "GET") return HttpReply::raw(reply.head);
    return reply;
  });
  EngineHarness e(1);
  const int slot =
      e.start({.url = server.url("/h"), .save_path = dir / "h", .options = TVN_OPT_AUTO_RESUME});
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FAILED);
  EXPECT_EQ(gets_for(server, "/h", 0), 3);  // the item's three attempts
}

}  // namespace
}  // namespace torvane::test
