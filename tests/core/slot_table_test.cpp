// The slot table over the real engine's slots, none of which is started:
// what it leaves in a record it gives back, fills from an item, lets go at
// the final notice or copies for a resume.
#include "core/queue/slot_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/test_files.h"

namespace torvane {
namespace {

int no_notice(EngineContext*, int, int, int, void*) {
  return 0;
}

// `values` in a block of the engine's heap, as a record's arrays live.
template <class T>
T* engine_array(const EngineApi& api, const std::vector<T>& values) {
  auto* block = static_cast<T*>(api.GetMem(static_cast<unsigned>(sizeof(T) * values.size())));
  std::copy(values.begin(), values.end(), block);
  return block;
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

  // Engine-heap division arrays of 100-byte ranges with `done` bytes of each
  // in the file, every division asked to stop.
  void prepare(const std::vector<std::uint32_t>& done, const std::vector<std::int32_t>& status) {
    const std::size_t n = done.size();
    r_->div_count = static_cast<int>(n);
    r_->div_status = engine_array(api(), status);
    r_->div_retries = engine_array(api(), std::vector<std::int32_t>(n, 5));
    r_->div_stop = engine_array(api(), std::vector<std::int32_t>(n + 1, 1));
    r_->disk.range_len = engine_array(api(), std::vector<std::uint32_t>(n, 100));
    r_->disk.range_done = engine_array(api(), done);
    r_->disk.buf_fill = engine_array(api(), std::vector<std::int32_t>(n, 0));
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
  r_->div_count = 4;
  r_->options = TVN_OPT_AUTO_RESUME;
  r_->buffer_size = 1000;
  table_.give_back(slot_, false);
  EXPECT_EQ(r_->owner, owner);
  EXPECT_EQ(r_->state, TVN_STATE_EMPTY);
  EXPECT_EQ(r_->url, nullptr);
  EXPECT_EQ(r_->div_count + r_->buffer_size + static_cast<int>(r_->options), 0);
  EXPECT_FALSE(strings_->owns(r_->url));
}

// A fresh start reads the slot's own copies of the item's URL and folder,
// never the item's fields, which may change while the slot runs.
TEST_F(SlotTableTest, FillPointsAtTheSlotsOwnCopies) {
  test::TempDir dir;
  const ProgramFolder folder(dir.path());
  const IniAccess ini(dir / "Torvane.ini");
  const ManualClock clock;
  ListItem item;
  set_field(item.url, "http://127.0.0.1/f.zip");
  set_field(item.save_folder, dir.path());
  set_field(item.division_text, "2");
  ASSERT_EQ(table_.fill(slot_, item, {folder, ini, api(), clock}), 0);
  EXPECT_TRUE(r_->url != item.url && strings_->owns(r_->url));
  EXPECT_TRUE(r_->save_path != item.save_folder && strings_->owns(r_->save_path));
  EXPECT_STREQ(r_->url, item.url);
  EXPECT_STREQ(r_->save_path, item.save_folder);
  EXPECT_EQ(strings_->item_url(), r_->url);
  table_.give_back(slot_, false);
}

// At the final notice only the texts the slot owns are cleared from the
// record (a refused resume's free_itemdata must not free them again).
TEST_F(SlotTableTest, EndClearsOnlyTheSlotsOwnTexts) {
  char* const kept = static_cast<char*>(api().GetMem(8));
  r_->url = strings_->copy("http://127.0.0.1/f");
  r_->proxy = strings_->copy("127.0.0.1:1");
  r_->referer = kept;
  table_.end(slot_);
  EXPECT_EQ(r_->url, nullptr);
  EXPECT_EQ(r_->proxy, nullptr);
  EXPECT_EQ(r_->referer, kept);  // freed with the record at the teardown
}

// A stop's copy resumes every division that had not finished, and one with
// no byte in its file (or no divisions at all) is none: the item starts
// afresh.
TEST_F(SlotTableTest, CopyBackResumesUnfinishedDivisionsOnly) {
  WideCopy wide;
  EXPECT_FALSE(table_.copy_back(slot_, wide));  // no division arrays yet
  prepare({0, 0}, {TVN_DIV_IDLE, TVN_DIV_SENT});
  EXPECT_FALSE(table_.copy_back(slot_, wide));
  r_->disk.range_done[0] = 100;
  r_->disk.range_done[1] = 40;
  r_->div_status[0] = TVN_DIV_DONE;
  const SavedRecord saved = table_.copy_back(slot_, wide);
  ASSERT_TRUE(saved);
  EXPECT_EQ(std::vector<std::int32_t>(saved->div_stop, saved->div_stop + 3),
            std::vector<std::int32_t>(3, 0));
  EXPECT_EQ(std::vector<std::int32_t>(saved->div_status, saved->div_status + 2),
            (std::vector<std::int32_t>{TVN_DIV_DONE, TVN_DIV_SENT}));
  EXPECT_EQ(saved->disk.range_done[1], 40u);
  EXPECT_EQ(r_->div_stop[0], 1);  // the live record is left alone
}

}  // namespace
}  // namespace torvane
