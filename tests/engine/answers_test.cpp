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

// A 206 from the request's start that sends `sent` to its end. It names
// the bytes up to `size` ("bytes A-B/<total>") with their length, or, with
// a null `total`, neither range nor length.
HttpReply partial(const HttpRequest& r, const Body& sent, std::size_t size, const char* total) {
  const auto from = static_cast<std::size_t>(r.range_start());
  std::string head = "HTTP/1.0 206 Partial Content\r\n";
  if (total != nullptr)
    head += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(size - 1) + "/" +
            total + "\r\nContent-Length: " + std::to_string(size - from) + "\r\n";
  return {
      .head = head + "\r\n", .body = sent, .body_offset = from, .body_size = sent->size() - from};
}

// Races the divisions that learn the whole file is coming against division 0's end.
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
                           .options = options});
        }
        const std::vector<int> slots = e.start_together(items);
        for (int k = 0; k < kParallel; ++k) {
          const std::string file = dir / ("r" + std::to_string(k));
          EXPECT_EQ(e.wait_final(slots[k], kDeadline), TVN_NOTICE_FINISHED);
          EXPECT_TRUE(read_file(file) == *body);
          EXPECT_LE(server.get_starts(before, "/r" + std::to_string(k)).size(), divisions + 1u);
          std::remove(file.c_str());
        }
      }
    }
  }
}

// Contradictory or refusing answers: the whole file or a failure, never a wrong file.
TEST(Answers, ContradictoryAndRefusingAnswersFailOrStartOver) {
  const Body body = bytes(300000), other = bytes(300000, 9), small = bytes(5000);
  // What is left of `body` after it shrank; the HEAD still names the old size.
  const Body shrunk = std::make_shared<const std::string>(body->substr(0, 200000));
  const auto beyond_shrunk = [&](bool stale_gets) {
    return [&, stale_gets](const HttpRequest& r) {
      if (r.method == "HEAD") return resource_reply(r, body);
      if (r.range_start() >= 200000) return status_reply(416, "Range Not Satisfiable");
      return stale_gets ? partial(r, shrunk, 300000, "300000") : partial(r, shrunk, 200000, "*");
    };
  };
  std::atomic<int> calls{0};
  const auto raw = [](std::string bytes) {
    return [bytes](const HttpRequest& r) {
      return HttpReply::raw(r.method == "HEAD" ? bytes.substr(0, bytes.find("\r\n\r\n") + 4)
                                               : bytes);
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
    bool reason = true;  // a message notice says why; else a finished item says nothing
    std::uint32_t options = 0;
  } rows[] = {
      {"two Content-Length lines that differ",
       raw("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\nContent-Length: 4000\r\n\r\n" + *small), 1,
       nullptr},
      {"HEAD smaller than the file",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? status_reply(200, "OK", std::string(1000, 'h'))
                                   : resource_reply(r, body);
       },
       4, body, 4 + 4},
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
      {"416 inside a stale HEAD length, GETs name no total", beyond_shrunk(false), 4, shrunk},
      {"416 inside a length that every answer still names", beyond_shrunk(true), 4, nullptr, 1000,
       true, TVN_OPT_AUTO_RESUME},
      {"416 for every start but byte 0",
       [&](const HttpRequest& r) {
         return r.method == "GET" && r.range_start() > 0
                    ? status_reply(416, "Range Not Satisfiable")
                    : resource_reply(r, body);
       },
       4, body},
      {"HEAD 501",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? status_reply(501, "Refused") : resource_reply(r, body);
       },
       4, body, 4, false},
      {"206 without Content-Range or length",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? resource_reply(r, body) : partial(r, body, 0, nullptr);
       },
       4, body},
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
                                    .options = row.options}),
                           kDeadline),
              row.saved ? TVN_NOTICE_FINISHED : TVN_NOTICE_FAILED);
    e.end();
    EXPECT_TRUE(!row.saved || read_file(target) == *row.saved);
    EXPECT_LE(static_cast<int>(server.get_starts(before).size()), row.max_gets);
    EXPECT_TRUE((!row.reason && !row.saved) || (e.count(TVN_NOTICE_MESSAGE) > 0) == row.reason);
    std::remove(target.c_str());
  }
}

}  // namespace
}  // namespace torvane::test
