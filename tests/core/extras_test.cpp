// The existing-file policies on real files, the history record and its
// reading back, and the engine status texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "gui/extras/engine_status_text.h"
#include "gui/extras/history_writer.h"
#include "gui/extras/target_file.h"
#include "tests/support/test_files.h"

namespace torvane {
namespace {

using test::read_file;
using test::write_file;

class TargetFile : public ::testing::Test {
 protected:
  TargetFile() {
    api_.DiskIO_MakeFileName = &::DiskIO_MakeFileName;
    api_.DiskIO_CheckFile = &::DiskIO_CheckFile;
    api_.DiskIO_OpenFile = &::DiskIO_OpenFile;
    set_field(url_, "http://h/dir/movie.avi");
    folder_ = dir_.path() + "/";
    record_.url = url_;
    record_.save_path = folder_.data();
  }
  ~TargetFile() override { close(); }

  // Opens the target as the engine's open notice would; the opened path or "".
  std::string open(int policy) {
    close();
    settings_.exist_file = policy;
    if (open_target_file(&record_, api_, settings_, clock_) != 0) return "";
    return record_.disk.file_name != nullptr ? record_.disk.file_name : "(engine)";
  }
  void close() {
    if (record_.disk.file != 0) ::DiskIO_CloseHandle(&record_.disk);
    std::free(record_.disk.file_name);
    record_.disk = DiskIO{};
  }
  std::string path(const std::string& name) const { return dir_ / name; }

  test::TempDir dir_;
  EngineApi api_;
  ProgramSettings settings_;
  // Tuesday 9 March, 14:05
  ManualClock clock_{LocalTime{2027, 3, 2, 9, 14, 5, 0, 0}};
  char url_[2048] = {};
  std::string folder_;
  ItemData record_{};
};

TEST_F(TargetFile, PoliciesOnAnExistingFile) {
  EXPECT_EQ(open(kExistOverwrite), path("movie.avi"));  // nothing there yet
  ASSERT_TRUE(write_file(path("movie.avi"), "old"));
  EXPECT_EQ(open(kExistOverwrite), path("movie.avi"));
  EXPECT_EQ(open(kExistFail), "");
  const std::string other = path("movie_[03月09日(火) 14時05分].avi");
  EXPECT_EQ(open(kExistOtherName), other);
  EXPECT_EQ(open(kExistOtherName), other);  // the same minute names the same file again
  EXPECT_EQ(open(7), "(engine)");           // left for the engine to open
  EXPECT_EQ(read_file(path("movie.avi")), "old");
}

TEST_F(TargetFile, AFolderOfTheSameNameIsNoClash) {
  std::filesystem::create_directory(path("movie.avi"));
  // No clash, so the open itself decides: a folder cannot be opened as a file.
  EXPECT_EQ(open(kExistFail), "");
  EXPECT_TRUE(test::is_folder(path("movie.avi")));
}

TEST_F(TargetFile, RenameOldMovesTheFileAsideButNeverOverAnother) {
  const std::string aside = path("movie_[03月09日(火) 14時05分].avi");
  ASSERT_TRUE(write_file(path("movie.avi"), "first"));
  EXPECT_EQ(open(kExistRenameOld), path("movie.avi"));
  EXPECT_EQ(read_file(aside), "first");
  close();
  ASSERT_TRUE(write_file(path("movie.avi"), "second"));
  EXPECT_EQ(open(kExistRenameOld), "");  // the template's name is taken in the same minute
  EXPECT_EQ(read_file(aside), "first");
  EXPECT_EQ(read_file(path("movie.avi")), "second");
}

TEST(History, RecordReadsBackWithItsTotals) {
  test::TempDir dir;
  const std::string file = dir / "tvnlog.txt";
  ManualClock clock(LocalTime{2026, 12, 0, 6, 9, 7, 0, 0});
  ListItem item;
  set_field(item.url, "http://h/a.bin");
  set_field(item.file_name, "a.bin");
  set_field(item.division_text, "4");
  set_field(item.save_folder, "/dl/");
  set_field(item.progress, "3600000 / 3600000 (100%)");
  item.start_tick = 1000;
  clock.set_tick(1000 + 3630 * 1000);  // 1 hour 0 minutes 30 seconds
  {
    HistoryWriter writer(file);
    ASSERT_EQ(writer.write_entry(item, clock, false), 0);
    clock.set_tick(1000 + 250);  // shorter than a second: measured in milliseconds
    set_field(item.progress, "5000");
    ASSERT_EQ(writer.write_entry(item, clock, false), 0);
  }
  EXPECT_EQ(read_file(file)->rfind("Date: 12/06(日) 09:07\r\nURL: http://h/a.bin\r\n"
                                   "Filename: a.bin\tDivide: 4\r\nSave: /dl/\r\nFileSize: ",
                                   0),
            0u);
  const HistoryList list = load_history_file(file.c_str());
  ASSERT_EQ(list.rows.size(), 2u);
  EXPECT_EQ(list.rows[0].cells[kColTime], "001:00:30");
  EXPECT_EQ(list.rows[0].cells[kColSize], "3600000");
  EXPECT_EQ(list.rows[0].cells[kColSpeed], "991.7byte/s");
  EXPECT_EQ(list.rows[1].cells[kColTime], "000:00:00");
  EXPECT_EQ(list.rows[1].cells[kColSpeed], "20.0Kbyte/s");
  const auto summary = history_summary_rows(list);
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(summary[2].cells[0], "2 ファイル");
  EXPECT_EQ(summary[3].cells[0], "3605000 byte");
}

TEST(EngineStatus, ThreadBitsAndASlotWithThreeDivisions) {
  std::int32_t status[3] = {2, 206, 3};
  std::uint32_t done[3] = {100, 50, 0};
  std::int32_t fill[3] = {0, 7, 0};
  ItemData items[2] = {};
  items[1].state = TVN_STATE_DOWNLOADING;
  items[1].div_count = 3;
  items[1].div_status = status;
  items[1].disk.range_done = done;
  items[1].disk.buf_fill = fill;
  EngineContext context{};
  context.max_items = 2;
  context.slot_count = 2;
  context.wait_ms = 20;
  context.dl_thread_ctl = TVN_CTL_STOP | TVN_CTL_END_OK;
  context.items = items;
  EXPECT_EQ(thread_status_text(context),
            "Torvane スレッド情報\r\n\r\nウエイト=20\r\n\r\n"
            "ダウンロードスレッド\r\nStop=2\r\nStopOK=0\r\nEnd=0\r\nEndOK=16\r\nEndFail=0\r\n\r\n"
            "接続スレッド\r\nStop=0\r\nStopOK=0\r\nEnd=0\r\nEndOK=0\r\nEndFail=0\r\n\r\n");
  EXPECT_EQ(item_status_text(context),
            "アイテム情報\r\n\r\n同時ダウンロード数=2\r\nメモリ取得済み数=2\r\nCNGDL=0\r\nCNGDLOK=0\r\n"
            "\r\nアイテム[0]\r\nステータス=0\r\n"
            "\r\nアイテム[1]\r\nステータス=4\r\n"
            "ステータス\r\nst000=2\r\nst001=206\r\nst002=3\r\n"
            "ファイル書込み\r\nwf000=100\r\nwf001=50\r\nwf002=0\r\n"
            "バッファ\r\nbf000=0\r\nbf001=7\r\nbf002=0\r\n");
  context.items = nullptr;
  EXPECT_NE(item_status_text(context).find("致命的なエラー！アイテムがありません。"),
            std::string::npos);
}

}  // namespace
}  // namespace torvane
