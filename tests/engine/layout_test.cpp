// The records are shared with C clients and stored in the item list file:
// C and C++ must agree on every offset, and the field order must be the
// interface's whatever the pointer width.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "torvane/torvane.h"

extern "C" int torvane_c_offsets(std::size_t* out);
extern "C" int torvane_c_init_mode_one(void);

namespace {

TEST(RecordLayout, CAndCppAgreeOnEveryOffset) {
  const std::vector<std::size_t> cpp = {
      sizeof(EngineContext), sizeof(ItemData), sizeof(ConnInfo), sizeof(DiskIO),
      offsetof(EngineContext, max_items), offsetof(EngineContext, slot_count),
      offsetof(EngineContext, callback), offsetof(EngineContext, wait_ms),
      offsetof(EngineContext, dl_thread_ctl), offsetof(EngineContext, dl_thread),
      offsetof(EngineContext, dl_thread_id), offsetof(EngineContext, conn_thread_ctl),
      offsetof(EngineContext, conn_thread), offsetof(EngineContext, conn_thread_id),
      offsetof(EngineContext, resize_ctl), offsetof(EngineContext, items),
      offsetof(ItemData, state), offsetof(ItemData, run_flags), offsetof(ItemData, data_type),
      offsetof(ItemData, referer), offsetof(ItemData, user_agent), offsetof(ItemData, auto_referer),
      offsetof(ItemData, reserved_text), offsetof(ItemData, url), offsetof(ItemData, save_path),
      offsetof(ItemData, extra_header), offsetof(ItemData, options), offsetof(ItemData, retry),
      offsetof(ItemData, div_count), offsetof(ItemData, proxy), offsetof(ItemData, buffer_size),
      offsetof(ItemData, div_status), offsetof(ItemData, div_retries), offsetof(ItemData, div_stop),
      offsetof(ItemData, conn), offsetof(ItemData, disk), offsetof(ItemData, request_path),
      offsetof(ItemData, owner),
      offsetof(ConnInfo, sockets), offsetof(ConnInfo, host), offsetof(ConnInfo, port),
      offsetof(ConnInfo, host_entry), offsetof(ConnInfo, address),
      offsetof(DiskIO, file), offsetof(DiskIO, count_ref), offsetof(DiskIO, file_size),
      offsetof(DiskIO, range_len), offsetof(DiskIO, range_done), offsetof(DiskIO, buf_ptr),
      offsetof(DiskIO, buf_fill), offsetof(DiskIO, buf_block), offsetof(DiskIO, file_name)};
  std::vector<std::size_t> c(cpp.size() + 8);
  c.resize(static_cast<std::size_t>(torvane_c_offsets(c.data())));
  EXPECT_EQ(c, cpp);
  // Within each record the offsets rise in declaration order.
  for (std::size_t i = 5; i < 16; ++i) EXPECT_LT(cpp[i - 1], cpp[i]) << "EngineContext field " << i;
  for (std::size_t i = 17; i < 38; ++i) EXPECT_LT(cpp[i - 1], cpp[i]) << "ItemData field " << i;
  for (std::size_t i = 39; i < 43; ++i) EXPECT_LT(cpp[i - 1], cpp[i]) << "ConnInfo field " << i;
  for (std::size_t i = 44; i < cpp.size(); ++i) EXPECT_LT(cpp[i - 1], cpp[i]) << "DiskIO field " << i;
  EXPECT_EQ(sizeof(ConnInfo::address), 16u);
  EXPECT_EQ(sizeof(std::int32_t), 4u);
}

TEST(RecordLayout, InitModeOneFromCDoesNothing) { EXPECT_EQ(torvane_c_init_mode_one(), 1); }

}  // namespace
