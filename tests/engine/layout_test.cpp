// The records are shared with C clients: the header must serve a C program
// as it serves C++, with the same record layout.
#include <gtest/gtest.h>

#include <cstddef>

#include "torvane/torvane.h"

extern "C" std::size_t torvane_c_touch_fields(EngineContext* ctx, ItemData* item);
extern "C" int torvane_c_init_mode_one(void);

namespace {

TEST(PublicHeader, ServesCClients) {
  EngineContext ctx{};
  ItemData item{};
  EXPECT_EQ(torvane_c_touch_fields(&ctx, &item), sizeof(ItemData));
  EXPECT_EQ(item.disk.count_ref, &item.div_count) << "C wrote where C++ reads";
  EXPECT_EQ(item.owner, &ctx);
  EXPECT_EQ(torvane_c_init_mode_one(), 1);
}

}  // namespace
