// The slot table over the real engine's slots, none of which is started:
// what it leaves in a record it gives back or lets go at the final notice.
#include "core/queue/slot_table.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

int no_notice(EngineContext*, int, int, int, void*) {
  return 0;
}

class SlotTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(binding_.bind({TORVANE_ENGINE_LIBRARY}, &no_notice, 1, 50), 0);
    ASSERT_EQ(table_.grow(1), 0);
    slot_ = table_.reserve();
    ASSERT_GE(slot_, 0);
    r_ = table_.record(slot_);
    strings_ = table_.strings(slot_);
  }
  // The record leaves the test zeroed, its strings and arrays freed.
  void TearDown() override {
    if (r_ != nullptr) table_.give_back(slot_, true);
  }

  const EngineApi& api() { return binding_.api(); }

  EngineBinding binding_;
  SlotTable table_{binding_};
  int slot_ = -1;
  ItemData* r_ = nullptr;
  SlotStrings* strings_ = nullptr;
};

// Given back after a refused start, the record is as the engine zeroes it:
// nothing of the item stays for the next, but the owner a stop finds the
// engine's lock by does, and the slot's strings went back.
TEST_F(SlotTableTest, GiveBackZeroesAllButTheOwner) {
  EngineContext* const owner = r_->owner;
  ASSERT_NE(owner, nullptr);
  r_->url = strings_->copy("http://127.0.0.1/f");
  r_->div_count = 4, r_->options = TVN_OPT_AUTO_RESUME, r_->buffer_size = 1000;
  table_.give_back(slot_, false);
  EXPECT_EQ(std::tuple(r_->owner, r_->state, r_->url, r_->div_count, r_->buffer_size, r_->options),
            std::tuple(owner, TVN_STATE_EMPTY, nullptr, 0, 0, 0u));
  EXPECT_FALSE(strings_->owns(r_->url));
}

// At the final notice only the texts the slot owns are cleared from the
// record (a refused resume's free_itemdata must not free them again).
TEST_F(SlotTableTest, EndClearsOnlyTheSlotsOwnTexts) {
  char* const kept = static_cast<char*>(api().GetMem(8));
  r_->url = strings_->copy("http://127.0.0.1/f");
  r_->proxy = strings_->copy("127.0.0.1:1");
  r_->referer = kept;
  table_.end(slot_);
  // The kept text is freed with the record at the teardown.
  EXPECT_EQ(std::tuple(r_->url, r_->proxy, r_->referer), std::tuple(nullptr, nullptr, kept));
}

}  // namespace
}  // namespace torvane
