// A file above 4 GiB through libtorvane.so, cheaply: the scripted server
// announces the size but sends only a small slice to each GET, so the output
// file stays sparse. A client that reads only the 32-bit fields sees
// TVN_SIZE_WIDE; the whole values are in the slot's WideSizes, and a client
// resumes from them in a fresh engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/kept_item.h"
#include "tests/support/scripted_server.h"
#include "tests/support/sparse_file.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);
// Two divisions, each a little over 4 GiB: division 0 ends 1000 bytes past
// 4 GiB and division 1 starts there.
constexpr std::uint64_t kLen0 = kFourGiB + 1000, kLen1 = kFourGiB + 999;
constexpr std::uint64_t kSize = kLen0 + kLen1;
using Whole = std::vector<std::uint64_t>;
using Fields = std::vector<std::uint32_t>;

// Two entries of a shared array, read as another thread reads them.
template <class T>
std::vector<T> two(T*& field) {
  T* array = load_acquire(field);
  if (array == nullptr) return {};
  return {load_relaxed(array[0]), load_relaxed(array[1])};
}

class WideSizes4G : public testing::Test {
 protected:
  TempDir dir_;
  const std::string target_ = dir_ / "big.iso";
  // Each GET gets 3000 bytes (fewer at the file's end), then silence.
  ScriptedServer server_{[](const HttpRequest& r) { return announced_reply(r, kSize, 3000); }};
  KeptItem kept_;
};

// The resume takes a saturated field's whole value, and a field below 4 GiB as it is.
TEST_F(WideSizes4G, StopAndResumeInAFreshEngineFromTheWholeValues) {
  {
    EngineHarness e(1);
    kept_.keep_stopped(e);
    const int slot =
        e.start({.url = server_.url("/big.iso"), .save_path = target_, .div_count = 2});
    ASSERT_GE(slot, 0);
    ItemData& item = e.item(slot);
    WideSizes* wide = dl_wide(&e.ctx(), slot);
    ASSERT_NE(wide, nullptr);
    ASSERT_TRUE(EngineHarness::wait_until(
        [&] {  // both slices in: written, or waiting in the shares
          if (load_acquire(item.state) != TVN_STATE_DOWNLOADING) return false;
          const Whole done = two(wide->range_done);
          const std::vector<std::int32_t> fill = two(item.disk.buf_fill);
          return done.size() == 2 && fill.size() == 2 && done[0] + fill[0] == 3000 &&
                 done[1] + fill[1] == 3000;
        },
        kDeadline));
    EXPECT_EQ(load_relaxed(item.disk.file_size), TVN_SIZE_WIDE);
    EXPECT_EQ(load_relaxed(wide->file_size), kSize);
    EXPECT_EQ(two(item.disk.range_len), (Fields{TVN_SIZE_WIDE, TVN_SIZE_WIDE}));
    EXPECT_EQ(two(wide->range_len), (Whole{kLen0, kLen1}));
    EXPECT_EQ(server_.get_starts(), (std::vector<std::int64_t>{0, kLen0}));
    ASSERT_EQ(dl_stop(&item, -1), 0);
    ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);
    // Released with the record.
    EXPECT_EQ(load_acquire(wide->range_len), nullptr);
    EXPECT_EQ(load_relaxed(wide->file_size), 0u);
  }
  ASSERT_NE(kept_.record(), nullptr);
  EXPECT_EQ(kept_.file_size, kSize);
  EXPECT_EQ(kept_.len, (Whole{kLen0, kLen1}));
  EXPECT_EQ(kept_.done, (Whole{3000, 3000}));

  const std::uint64_t done0 = kFourGiB - 2000, done1 = kLen1 - 500;
  kept_.record()->disk.range_done[0] = static_cast<std::uint32_t>(done0);
  kept_.record()->disk.range_done[1] = TVN_SIZE_WIDE;
  kept_.done = {12345, done1};  // 12345 is not taken: its field holds a value below 4 GiB
  const std::size_t before = server_.request_count();
  EngineHarness e(1);
  Whole final_done;
  Fields final_fields;
  e.answer(TVN_NOTICE_FINISHED, [&](EngineContext* ctx, int slot, int, void*) {
    final_done = two(dl_wide(ctx, slot)->range_done);
    final_fields = two(load_acquire(ctx->items)[slot].disk.range_done);
    return 0;
  });
  const int slot = kept_.resume(e);
  ASSERT_GE(slot, 0);
  ASSERT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_EQ(server_.get_starts(before), (std::vector<std::int64_t>{done0, kLen0 + done1}));
  EXPECT_EQ(final_done, (Whole{kLen0, kLen1}));
  EXPECT_EQ(final_fields, (Fields{TVN_SIZE_WIDE, TVN_SIZE_WIDE}));
  EXPECT_EQ(file_size_of(target_), kSize);
  for (const auto& [from, n] : std::map<std::uint64_t, std::size_t>{
           {0, 3000}, {kLen0, 3000}, {done0, 3000}, {kSize - 500, 500}})
    EXPECT_EQ(read_at(target_, from, n), announced_bytes(from, n)) << from;
}

}  // namespace
}  // namespace torvane::test
