// Servers that refuse what a ranged download needs: the HEAD, ranges that
// do not start at byte 0, a length that is no longer true. Each item ends
// with the whole file byte for byte, or failed with a reason.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

using Body = std::shared_ptr<const std::string>;

// A 206 from the request's start to the end of `body` (or to the end of a
// `claimed` size, of which only `body` is sent): with a Content-Range
// total (or "*") and Content-Length when `range`, else with neither.
HttpReply partial(const HttpRequest& r, const Body& body, bool range, std::size_t claimed = 0,
                  const char* total = nullptr) {
  const std::size_t from = static_cast<std::size_t>(r.range_start());
  const std::size_t end = claimed != 0 ? claimed : body->size();
  std::string head = "HTTP/1.0 206 Partial Content\r\n";
  if (range)
    head += "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(end - 1) + "/" +
            (total != nullptr ? total : std::to_string(end)) +
            "\r\nContent-Length: " + std::to_string(end - from) + "\r\n";
  return {
      .head = head + "\r\n", .body = body, .body_offset = from, .body_size = body->size() - from};
}

TEST(Fallback, RefusedHeadsRangesAndLengthsEndWholeOrWithAReason) {
  const Body body = std::make_shared<const std::string>(pattern_bytes(300000, 5));
  // What is left of `body` after it shrank; the HEAD still names the old size.
  const Body shrunk = std::make_shared<const std::string>(body->substr(0, 200000));
  const auto head_refused = [&](int code) {
    return [&, code](const HttpRequest& r) {
      return r.method == "HEAD" ? status_reply(code, "Refused") : resource_reply(r, body);
    };
  };
  const auto beyond_shrunk = [&](const HttpRequest& r, bool stale_gets) {
    if (r.method == "HEAD") return resource_reply(r, body);
    if (r.range_start() >= 200000) return status_reply(416, "Range Not Satisfiable");
    return stale_gets ? partial(r, shrunk, true, body->size()) : partial(r, shrunk, true, 0, "*");
  };
  struct Row {
    const char* what;
    HttpHandler handler;
    int divisions;
    Body saved;  // null: the item fails
    bool message;
    std::uint32_t options = 0;
  } rows[] = {
      {"HEAD 405, one division", head_refused(405), 1, body, false},
      {"HEAD 405, four divisions", head_refused(405), 4, body, false},
      {"HEAD 501, one division", head_refused(501), 1, body, false},
      {"HEAD 501, four divisions", head_refused(501), 4, body, false},
      {"416 inside a stale HEAD length, GETs name no total",
       [&](const HttpRequest& r) { return beyond_shrunk(r, false); }, 4, shrunk, true},
      {"416 inside a length that every answer still names",
       [&](const HttpRequest& r) { return beyond_shrunk(r, true); }, 4, nullptr, true,
       TVN_OPT_AUTO_RESUME},
      {"416 for every start but byte 0",
       [&](const HttpRequest& r) {
         return r.method == "GET" && r.range_start() > 0
                    ? status_reply(416, "Range Not Satisfiable")
                    : resource_reply(r, body);
       },
       4, body, true},
      {"206 without Content-Range or length, one division",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? resource_reply(r, body) : partial(r, body, false);
       },
       1, body, false},
      {"206 without Content-Range or length, four divisions",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? resource_reply(r, body) : partial(r, body, false);
       },
       4, body, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    ScriptedServer server(row.handler);
    EngineHarness e(1);
    const int slot = e.start({.url = server.url("/f"),
                              .save_path = dir / "out.bin",
                              .div_count = row.divisions,
                              .buffer_size = 40000 * row.divisions,
                              .options = row.options});
    EXPECT_EQ(e.wait_final(slot, std::chrono::seconds(10)),
              row.saved ? TVN_NOTICE_FINISHED : TVN_NOTICE_FAILED);
    e.end();
    if (row.saved) {
      EXPECT_TRUE(read_file(dir / "out.bin") == *row.saved);
    }
    EXPECT_EQ(e.count(TVN_NOTICE_MESSAGE) > 0, row.message);
  }
}

}  // namespace
}  // namespace torvane::test
