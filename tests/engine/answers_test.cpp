// Answers that must never end in a wrong file reported finished: a server
// that ignores ranges, lengths that contradict each other or change, chunked
// bodies, redirects without a target, and a file that changed on the server
// between answers. Each case ends byte-identical, or failed with a reason.
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
constexpr int kDone = TVN_NOTICE_FINISHED, kFail = TVN_NOTICE_FAILED;
using Body = std::shared_ptr<const std::string>;

Body bytes(std::size_t size, std::uint32_t seed = 3) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

// Requests per target, from `from` on.
int gets_for(const ScriptedServer& server, const std::string& target, std::size_t from = 0) {
  int n = 0;
  const auto all = server.requests();
  for (std::size_t i = from; i < all.size(); ++i) n += all[i].method == "GET" && all[i].target == target;
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
        SCOPED_TRACE(testing::Message() << size << " bytes, " << divisions << " divisions, options "
                                        << options);
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

}  // namespace
}  // namespace torvane::test
