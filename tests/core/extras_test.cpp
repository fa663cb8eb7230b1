// The existing-file policies on real files, the history record and its
// reading back, and the engine status texts.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "core/queue/history_writer.h"
#include "core/queue/target_file.h"
#include "core/text/engine_status_text.h"
#include "tests/support/test_files.h"

namespace torvane {
namespace {

// Opens as the engine's open notice would, on Tuesday 9 March at 14:05.
class TargetFile : public ::testing::Test {
 protected:
  int open(ItemData& record, int policy, const PathInUse& in_use = {},
           std::string* chosen = nullptr) {
    record.save_path = const_cast<char*>(folder_.c_str());
    ProgramSettings settings{};  // the default name templates
    settings.exist_file = policy;
    return open_target_file(&record, api_, settings, clock_, in_use, chosen);
  }
  test::TempDir dir_;
  const std::string folder_ = dir_.path() + "/";
  const EngineApi api_{.DiskIO_OpenFile = &::DiskIO_OpenFile,
                       .DiskIO_CheckFile = &::DiskIO_CheckFile,
                       .DiskIO_MakeFileName = &::DiskIO_MakeFileName};
  const ManualClock clock_{LocalTime{2027, 3, 2, 9, 14, 5, 0, 0}};
};

TEST_F(TargetFile, PoliciesOnAnExistingFile) {
  const std::string movie = dir_ / "movie.avi";
  const std::string other = dir_ / "movie_[03月09日(火) 14時05分].avi";  // the name template
  ItemData record{};
  record.url = const_cast<char*>("http://h/dir/movie.avi");  // read, never written
  // Closes what the last call opened and opens the target; the opened path or "".
  const auto opened = [&](int policy) -> std::string {
    if (record.disk.file != 0) ::DiskIO_CloseHandle(&record.disk);
    std::free(record.disk.file_name);
    record.disk = DiskIO{};
    if (open(record, policy) != 0) return "";
    return record.disk.file_name != nullptr ? record.disk.file_name : "(engine)";
  };
  ASSERT_TRUE(test::write_file(movie, "old"));
  EXPECT_EQ(opened(kExistOverwrite), movie);
  EXPECT_EQ(opened(kExistFail), "");
  EXPECT_EQ(opened(kExistOtherName), other);
  EXPECT_EQ(opened(kExistOtherName), other);  // the same minute names the same file again
  EXPECT_EQ(opened(kExistRenameOld), movie);  // the empty other file went with its closing
  EXPECT_EQ(test::read_file(other), "old");
  EXPECT_EQ(opened(7), "(engine)");  // left for the engine to open
  ASSERT_TRUE(test::write_file(movie, "new"));
  EXPECT_EQ(opened(kExistRenameOld), "");  // never moved over another file
  EXPECT_EQ(test::read_file(movie), "new");
  EXPECT_EQ(test::read_file(other), "old");
  // A folder of the same name is no clash: the open itself fails.
  std::filesystem::remove(movie);
  std::filesystem::create_directory(movie);
  EXPECT_EQ(opened(kExistFail), "");
  EXPECT_TRUE(test::is_folder(movie));
}

// Overwrite and error on a busy path: the manager's two-items test.
TEST_F(TargetFile, APathAnotherDownloadWritesIsNeitherWrittenNorMoved) {
  const std::string data = dir_ / "data.bin", other = dir_ / "data_[03月09日(火) 14時05分].bin";
  ASSERT_TRUE(test::write_file(data, "running"));
  std::set<std::string> busy = {data};
  const PathInUse in_use = [&](const std::string& path) { return busy.contains(path); };
  for (const int policy : {kExistOtherName, kExistRenameOld, 7}) {  // 7: not even the engine's
    SCOPED_TRACE(policy);
    ItemData record{};
    record.url = const_cast<char*>("http://h/a/data.bin");
    std::string chosen;
    EXPECT_EQ(open(record, policy, in_use, &chosen), 0);
    EXPECT_EQ(chosen, other);
    if (record.disk.file != 0) ::DiskIO_CloseHandle(&record.disk);
    // The other name taken as well: the first free numbered form of it.
    busy.insert(other);
    chosen.clear();
    if (policy == kExistOtherName) {
      EXPECT_EQ(open(record, policy, in_use, &chosen), 0);
      EXPECT_EQ(chosen, dir_ / "data_[03月09日(火) 14時05分](1).bin");
      ::DiskIO_CloseHandle(&record.disk);
    }
    busy.erase(other);
    EXPECT_EQ(test::read_file(data), "running");
  }
}

TEST(History, RecordsReadBackWithTheirTotals) {
  test::TempDir dir;
  ManualClock clock(LocalTime{2026, 12, 0, 6, 9, 7, 0, 0});
  ListItem item;
  set_field(item.progress, "3600000 / 3600000 (100%)");
  clock.set_tick(3630 * 1000);  // 1 hour 0 minutes 30 seconds
  HistoryWriter writer(dir / "tvnlog.txt");
  ASSERT_EQ(writer.write_entry(item, clock, false), 0);
  clock.set_tick(250);  // shorter than a second: measured in milliseconds
  set_field(item.progress, "5000");
  set_field(item.url, "http://u:pw@h/f");  // the history is read by people: no password
  ASSERT_EQ(writer.write_entry(item, clock, false), 0);
  set_field(item.progress, "5368709120 / 5368709120 (100%)");  // past 4 GiB
  ASSERT_EQ(writer.write_entry(item, clock, false), 0);
  const HistoryList list = load_history_file((dir / "tvnlog.txt").c_str());
  const auto &a = list.rows.at(0).cells, &b = list.rows.at(1).cells;
  EXPECT_EQ(list.rows.at(2).cells[kColSize], "5368709120");
  EXPECT_EQ(a[kColDate] + "|" + a[kColSize] + "|" + a[kColTime] + "|" + a[kColSpeed],
            "12/06(日) 09:07|3600000|001:00:30|991.7byte/s");
  EXPECT_EQ(b[kColSize] + "|" + b[kColTime] + "|" + b[kColSpeed], "5000|000:00:00|20.0Kbyte/s");
  EXPECT_EQ(b[kColUrl], "http://u:********@h/f");
  EXPECT_EQ(history_summary_rows(list).at(3).cells[0], "5372314120 byte");  // the total
}

TEST(EngineStatus, ASlotWithThreeDivisionsAndAMissingArray) {
  std::int32_t status[3] = {2, 206, 3}, fill[3] = {0, 7, 0};
  std::uint32_t done[3] = {100, 50, 0};
  ItemData items[2] = {};
  items[1].state = TVN_STATE_DOWNLOADING, items[1].div_count = 3, items[1].div_status = status;
  items[1].disk.range_done = done, items[1].disk.buf_fill = fill;
  EngineContext context{};
  context.max_items = context.slot_count = 2, context.items = items;
  EXPECT_TRUE(
      item_status_text(context, nullptr)
          .ends_with(
              "\r\nアイテム[0]\r\nステータス=0\r\n\r\nアイテム[1]\r\nステータス=4\r\nステータス\r\n"
              "st000=2\r\nst001=206\r\nst002=3\r\nファイル書込み\r\nwf000=100\r\nwf001=50\r\n"
              "wf002=0\r\nバッファ\r\nbf000=0\r\nbf001=7\r\nbf002=0\r\n"));
  context.items = nullptr;
  EXPECT_TRUE(item_status_text(context, nullptr)
                  .ends_with("\r\n致命的なエラー！アイテムがありません。\r\n"));
}

}  // namespace
}  // namespace torvane
