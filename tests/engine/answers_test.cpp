// Answers that must never end in a wrong file reported finished: a server
// that ignores ranges, lengths that contradict each other or change, chunked
// bodies, redirects without a target, and a file that changed on the server
// between answers. Each case ends byte-identical, or failed with a reason.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
constexpr int kDone = TVN_NOTICE_FINISHED, kFail = TVN_NOTICE_FAILED;
using Body = std::shared_ptr<const std::string>;

Body bytes(std::size_t size, std::uint32_t seed = 3) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

// Requests per target, from `from` on.
int gets_for(const ScriptedServer& server, const std::string& target, std::size_t from = 0) {
  int n = 0;
  const auto all = server.requests();
  for (std::size_t i = from; i < all.size(); ++i)
    n += all[i].method == "GET" && all[i].target == target;
  return n;
}

// The race between the divisions that learn the server sent the whole file
// and division 0 at the end of its range: every size, also below the
// division count, must come out whole, and the fall-back to one connection
// costs at most one request more than the divisions asked for. 60 runs per
// size, ten at a time on one engine.
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
        int slots[kParallel];
        for (int k = 0; k < kParallel; ++k) {
          const std::string name = "/r" + std::to_string(k);
          slots[k] = e.start({.url = server.url(name),
                              .save_path = dir / name.substr(1),
                              .div_count = divisions,
                              .buffer_size = 40000 * divisions,
                              .options = options});
        }
        for (int k = 0; k < kParallel; ++k) {
          const std::string name = "/r" + std::to_string(k);
          EXPECT_EQ(e.wait_final(slots[k], kDeadline), kDone);
          EXPECT_TRUE(read_file(dir / name.substr(1)) == *body);
          EXPECT_LE(gets_for(server, name, before), divisions + 1);
          std::remove((dir / name.substr(1)).c_str());
        }
      }
    }
  }
}

// One item against `server`; what it ended with.
struct Outcome {
  int final = 0;
  std::string saved;
  int gets = 0;
  std::vector<std::string> messages;  // notice 401 texts
};

Outcome download(ScriptedServer& server, const std::string& target, int divisions,
                 std::uint32_t options = 0) {
  Outcome out;
  const std::size_t before = server.request_count();
  {
    EngineHarness e(1);
    std::mutex mutex;
    e.answer(TVN_NOTICE_MESSAGE, [&](EngineContext*, int, int, void* data) {
      const std::lock_guard<std::mutex> lock(mutex);
      out.messages.emplace_back(static_cast<const char*>(data));
      return 0;
    });
    out.final = e.wait_final(e.start({.url = server.url("/f"),
                                      .save_path = target,
                                      .div_count = divisions,
                                      .buffer_size = 40000 * divisions,
                                      .options = options}),
                             kDeadline);
  }
  out.saved = read_file(target).value_or("<no file>");
  out.gets = gets_for(server, "/f", before);
  std::remove(target.c_str());
  return out;
}

// Answers whose framing, lengths or status contradict what they carry: each
// ends with the whole file or fails with a reason, never a wrong file.
TEST(Answers, ContradictoryAnswersFailOrStartOver) {
  const Body body = bytes(300000), other = bytes(300000, 9), small = bytes(5000);
  std::atomic<int> calls{0};
  const auto raw = [](std::string bytes) {
    return [bytes](const HttpRequest& r) {
      return r.method == "HEAD" ? HttpReply::raw(bytes.substr(0, bytes.find("\r\n\r\n") + 4))
                                : HttpReply::raw(bytes);
    };
  };
  const std::string chunked_head = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string framed = chunked_body(*body, 1000);
  struct Row {
    const char* what;
    HttpHandler handler;
    int divisions, final;
    Body saved = nullptr;  // a finished row's file
    int max_gets = 1000;   // a bound on the GETs
    bool reason = true;    // a notice 401 says why
  } rows[] = {
      {"two Content-Length lines that differ",
       raw("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\nContent-Length: 4000\r\n\r\n" + *small), 1,
       kFail},
      {"two equal Content-Length lines",
       raw("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\nContent-Length: 5000\r\n\r\n" + *small), 1,
       kDone, small, 1, false},
      {"HEAD smaller than the file, ranges kept",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? status_reply(200, "OK", std::string(1000, 'h'))
                                   : resource_reply(r, body);
       },
       4, kDone, body, 4 + 4},
      {"HEAD smaller than the file, ranges ignored",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? status_reply(200, "OK", std::string(1000, 'h'))
                                   : resource_reply(r, body, {.ignore_ranges = true});
       },
       4, kDone, body, 4 + 4},
      {"a size that changes on every answer",
       [&](const HttpRequest& r) {
         return resource_reply(r,
                               std::make_shared<const std::string>(pattern_bytes(1000 + calls++)));
       },
       2, kFail, nullptr, 2 * 3 + 1},
      {"chunked, one division", raw(chunked_head + framed), 1, kDone, body, 1, false},
      {"chunked behind a HEAD that gave a length",
       [&](const HttpRequest& r) {
         return r.method == "HEAD" ? resource_reply(r, body)
                                   : HttpReply::raw(chunked_head + framed);
       },
       4, kDone, body, 4 + 1},
      {"chunked, cut before the last chunk",
       raw(chunked_head + framed.substr(0, framed.size() - 40)), 1, kFail, nullptr, 1000, false},
      {"chunked, broken framing", raw(chunked_head + "zz\r\n" + framed), 1, kFail},
      {"302 without Location", raw("HTTP/1.0 302 Found\r\nContent-Length: 5\r\n\r\nmoved"), 1,
       kFail, nullptr, 0},
      {"206 longer than its Content-Range",
       raw("HTTP/1.0 206 Partial\r\nContent-Range: bytes 0-99/5000\r\nContent-Length: "
           "5000\r\n\r\n" +
           *small),
       1, kFail, nullptr, 1000, false},
      {"200 closed before its Content-Length, HEAD without one",
       [&](const HttpRequest& r) {
         HttpReply reply = resource_reply(r, body);
         if (r.method == "HEAD") return HttpReply::raw("HTTP/1.0 200 OK\r\n\r\n");
         reply.send_limit = reply.head.size() + 1000;
         return reply;
       },
       1, kFail, nullptr, 1000, false},
      {"the file changes after the first answer",
       [&](const HttpRequest& r) {
         return calls++ < 2 ? resource_reply(r, body, {.validator = "\"v1\""})
                            : resource_reply(r, other, {.validator = "\"v2\""});
       },
       4, kDone, other, 4 + 4},
      {"two servers with different versions by turns",
       [&](const HttpRequest& r) {
         return calls++ % 2
                    ? resource_reply(r, body, {.validator = "Mon, 01 Jun 2026 10:00:00 GMT"})
                    : resource_reply(r, other, {.validator = "Tue, 02 Jun 2026 10:00:00 GMT"});
       },
       4, kFail},
  };
  TempDir dir;
  ScriptedServer server;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    calls = 0;
    server.set_handler(row.handler);
    const Outcome got = download(server, dir / "out.bin", row.divisions);
    EXPECT_EQ(got.final, row.final);
    if (row.final == kDone) {
      EXPECT_TRUE(got.saved == *row.saved) << got.saved.size() << " bytes";
    }
    EXPECT_LE(got.gets, row.max_gets);
    if (row.reason) {
      EXPECT_FALSE(got.messages.empty());
    }
  }
}

// A download stopped with bytes in every division and resumed the way the
// program does it (a copy of the stopped record, its validator as If-Range
// in the extra header): a file that changed meanwhile is downloaded again
// from byte 0, an unchanged one goes on where it stopped.
TEST(Answers, ResumeTakesUpOnlyTheVersionItStartedWith) {
  const Body first = bytes(300000), second = bytes(300000, 9);
  for (const bool changed : {true, false}) {
    SCOPED_TRACE(changed ? "changed" : "unchanged");
    TempDir dir;
    std::atomic<bool> resumed{false};
    const auto held = std::make_shared<Gate>();  // never opens: every division stops part-way
    ScriptedServer server([&](const HttpRequest& r) {
      const bool now_second = resumed && changed;
      HttpReply reply = resource_reply(r, now_second ? second : first,
                                       {.validator = now_second ? "\"v2\"" : "\"v1\""});
      if (!resumed && r.method == "GET") {
        reply.gate = held;
        reply.gate_at = reply.head.size() + 10000;
      }
      return reply;
    });
    EngineHarness e(1);
    ItemData* saved = nullptr;
    e.answer(TVN_NOTICE_STOPPED, [&](EngineContext* ctx, int slot, int, void*) {
      saved = copy_itemdata(nullptr, &load_acquire(ctx->items)[slot]);
      return 0;
    });
    std::vector<std::string> messages;
    std::mutex mutex;
    e.answer(TVN_NOTICE_MESSAGE, [&](EngineContext*, int, int, void* data) {
      const std::lock_guard<std::mutex> lock(mutex);
      messages.emplace_back(static_cast<const char*>(data));
      return 0;
    });
    const std::string target = dir / "out.bin";
    const int slot = e.start(
        {.url = server.url("/f"), .save_path = target, .div_count = 2, .buffer_size = 80000});
    ASSERT_TRUE(EngineHarness::wait_until(
        [&] {
          ItemData& it = e.item(slot);
          if (load_acquire(it.state) != TVN_STATE_DOWNLOADING || load_acquire(it.div_count) != 2)
            return false;
          // Written, or waiting in the share until the stop writes it.
          std::uint32_t* done = load_acquire(it.disk.range_done);
          std::int32_t* fill = load_acquire(it.disk.buf_fill);
          const auto has = [&](int i) {
            return load_relaxed(done[i]) + load_relaxed(fill[i]) == 10000u;
          };
          return done != nullptr && fill != nullptr && has(0) && has(1);
        },
        kDeadline));
    dl_stop(&e.item(slot), -1);
    ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);
    ASSERT_NE(saved, nullptr);
    for (int i = 0; i <= saved->div_count; ++i) saved->div_stop[i] = 0;  // every division goes on

    resumed = true;
    const std::size_t before = server.request_count();
    const int again = dl_set(&e.ctx());
    ItemData& record = e.item(again);
    ASSERT_EQ(copy_itemdata(&record, saved), &record);
    std::string header = "If-Range: \"v1\"\r\n";
    record.extra_header = header.data();
    char* copies[] = {record.url,           record.referer,   record.user_agent,
                      record.reserved_text, record.save_path, record.proxy};
    store_release(record.state, TVN_STATE_EMPTY);
    ASSERT_EQ(dl_resume(&e.ctx(), again, -1), 0);
    ASSERT_TRUE(e.wait_count(TVN_NOTICE_SLOT_FREE, again, 2, kDeadline));
    EXPECT_EQ(e.count(TVN_NOTICE_FINISHED), 1);
    EXPECT_TRUE(read_file(target) == *(changed ? second : first));
    EXPECT_EQ(messages.empty(), !changed);
    // Each ranged request names one version, the one held at the time.
    const auto requests = server.requests();
    for (std::size_t i = before; i < requests.size(); ++i) {
      const std::string& raw = requests[i].raw;
      const std::size_t at = raw.find("If-Range: ");
      EXPECT_NE(at, std::string::npos) << raw;
      EXPECT_EQ(raw.find("If-Range: ", at + 1), std::string::npos) << raw;
    }
    e.end();
    free_itemdata(saved);
    std::free(saved);
    for (char* copy : copies) std::free(copy);
  }
}

}  // namespace
}  // namespace torvane::test
