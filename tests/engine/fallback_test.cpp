// Servers that refuse what a ranged download needs: the HEAD, ranges that
// do not start at byte 0, a length that is no longer true. Each item ends
// with the whole file byte for byte, or failed with a reason.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

using Body = std::shared_ptr<const std::string>;

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

TEST(Fallback, RefusedHeadsRangesAndLengthsEndWholeOrWithAReason) {
  const Body body = std::make_shared<const std::string>(pattern_bytes(300000, 5));
  // What is left of `body` after it shrank; the HEAD still names the old size.
  const Body shrunk = std::make_shared<const std::string>(body->substr(0, 200000));
  const auto beyond_shrunk = [&](const HttpRequest& r, bool stale_gets) {
    if (r.method == "HEAD") return resource_reply(r, body);
    if (r.range_start() >= 200000) return status_reply(416, "Range Not Satisfiable");
    return stale_gets ? partial(r, shrunk, 300000, "300000") : partial(r, shrunk, 200000, "*");
  };
  struct Row {
    std::string what;
    HttpHandler handler;
    int divisions;
    Body saved;  // null: the item fails
    bool message;
    std::uint32_t options = 0;
  };
  std::vector<Row> rows = {
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
  };
  for (const int divisions : {1, 4}) {
    for (const int code : {405, 501})
      rows.push_back({"HEAD " + std::to_string(code) + ", divisions " + std::to_string(divisions),
                      [&, code](const HttpRequest& r) {
                        return r.method == "HEAD" ? status_reply(code, "Refused")
                                                  : resource_reply(r, body);
                      },
                      divisions, body, false});
    rows.push_back({"206 without Content-Range or length, divisions " + std::to_string(divisions),
                    [&](const HttpRequest& r) {
                      return r.method == "HEAD" ? resource_reply(r, body)
                                                : partial(r, body, 0, nullptr);
                    },
                    divisions, body, divisions > 1});
  }
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
