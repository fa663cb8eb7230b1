// Rename templates, the shutdown-time text, and the history reader.
#include <gtest/gtest.h>

#include <string>

#include "gui/extras/history_reader.h"
#include "gui/extras/name_template.h"
#include "gui/extras/set_time_text.h"
#include "temp_folder.h"

namespace torvane {
namespace {

LocalTime tuesday_march_9() {
  LocalTime t;
  t.year = 2004;
  t.month = 3;
  t.day = 9;
  t.day_of_week = 2;
  t.hour = 14;
  t.minute = 5;
  t.second = 30;
  return t;
}

TEST(NameTemplate, Tokens) {
  const ManualClock clock(tuesday_march_9());
  struct Case {
    const char* path;
    const char* tmpl;  // nullptr: the default template
    bool ignore;
    int result;
    const char* expected;
  } cases[] = {
      {"/dl/movie.avi", nullptr, false, 0, "/dl/movie_[03月09日(火) 14時05分].avi"},
      {"/dl/abcdef.txt", "$3f.$e", false, 0, "/dl/abc.txt"},
      {"/dl/abcdef.txt", "$12f-$1e", false, 0, "/dl/abcdef-t"},
      {"/dl/noext", "[$f][$e]", false, 0, "/dl/[noext][]"},
      {"/dl/end.", "$f|$e", false, 0, "/dl/end|"},
      {"/dl/a.b.c", "$f", false, 0, "/dl/a.b"},
      {"/dl/a.txt", "x$q", true, 0, "/dl/x"},
      {"/dl/a.txt", "x$q", false, -1, "/dl/a.txt"},
      {"/dl/a.txt", "$qwxyz$f", true, 0, "/dl/za"},
      {"/dl/a.txt", "$2t", false, -1, "/dl/a.txt"},
      {"/dl/a.txt", "$2t", true, 0, "/dl/03月09日(火) 14時05分"},
      {"/dl/a.txt", "$1t", false, 0, "/dl/03月09日(火) 14時05分30秒"},
      {"/dl/a.txt", "$0t", false, 0, "/dl/03月09日(火) 14時05分"},
      {"no-folder.txt", "$f", false, -1, "no-folder.txt"},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(apply_name_template(path, c.tmpl, c.ignore, clock), c.result) << c.tmpl;
    EXPECT_EQ(path, c.expected) << (c.tmpl ? c.tmpl : "default");
  }
}

TEST(NameTemplate, GrowsPastAnyFixedBuffer) {
  const ManualClock clock(tuesday_march_9());
  std::string path = "/dl/" + std::string(200, 'n') + ".bin";
  std::string tmpl;
  for (int i = 0; i < 50; ++i) tmpl += "$f$1t";
  ASSERT_EQ(apply_name_template(path, tmpl.c_str(), false, clock), 0);
  EXPECT_GT(path.size(), 10000u);
  EXPECT_EQ(path.substr(0, 4), "/dl/");
}

TEST(SetTimeText, ParseAndFormat) {
  const LocalTime full = parse_set_time("y2001 mo12 d24 h23 mi30 s00");
  EXPECT_EQ(full.year, 2001);
  EXPECT_EQ(full.month, 12);
  EXPECT_EQ(full.day, 24);
  EXPECT_EQ(full.hour, 23);
  EXPECT_EQ(full.minute, 30);
  EXPECT_EQ(full.second, 0);
  EXPECT_EQ(full.day_of_week, kAnyTimeField);
  EXPECT_EQ(format_set_time(full), "y2001 mo12 d24 h23 mi30 s00 ");

  const LocalTime daily = parse_set_time("h07:mi00,s00");
  EXPECT_EQ(daily.year, kAnyTimeField);
  EXPECT_EQ(daily.day, kAnyTimeField);
  EXPECT_EQ(daily.hour, 7);
  EXPECT_EQ(format_set_time(daily), "h07 mi00 s00 ");

  const LocalTime stopped = parse_set_time("h1x mi05 q s09");  // 'q' ends the reading
  EXPECT_EQ(stopped.hour, 1);
  EXPECT_EQ(stopped.minute, 5);
  EXPECT_EQ(stopped.second, kAnyTimeField);
  EXPECT_EQ(parse_set_time("y20").year, 20);  // a field cut by the end of the text
  EXPECT_EQ(format_set_time(parse_set_time("")), "");
}

TEST(History, DurationText) {
  EXPECT_EQ(format_duration(3630), "001:00:30");
  EXPECT_EQ(format_duration(0), "000:00:00");
  EXPECT_EQ(format_duration(360000 + 59), "100:00:59");
}

const char kTwoRecords[] =
    "Date: 03/09(火) 14:05\r\nURL: http://h/a.zip\r\nFilename: a.zip\tDivide: 4\r\n"
    "Save: /dl/\r\nFileSize: 1000\tTime: 000:00:02\tSpeed: 0.50KB/s\r\n\r\n"
    "date: 03/10(水) 09:00\r\nURL: http://h/b.zip\r\nFilename: b.zip\tDivide: 1\r\n"
    "Save: /dl/\r\nfilesize: 234\tTime: 000:01:00\tSpeed: 3.90B/s\r\n\r\n";

TEST(History, RecordsAndTotals) {
  const HistoryList list = parse_history(kTwoRecords);
  ASSERT_EQ(list.rows.size(), 2u);
  EXPECT_EQ(list.complete_records, 2);
  EXPECT_EQ(list.total_bytes, 1234);
  const HistoryRow& a = list.rows[0];
  EXPECT_EQ(a.cells[kColDate], "03/09(火) 14:05");
  EXPECT_EQ(a.cells[kColFilename], "a.zip");
  EXPECT_EQ(a.cells[kColSize], "1000");
  EXPECT_EQ(a.cells[kColDivide], "4");
  EXPECT_EQ(a.cells[kColSpeed], "0.50KB/s");
  EXPECT_EQ(a.cells[kColTime], "000:00:02");
  EXPECT_EQ(a.cells[kColSave], "/dl/");
  EXPECT_EQ(a.cells[kColUrl], "http://h/a.zip");
  EXPECT_EQ(list.rows[1].cells[kColSpeed], "3.90B/s");

  const std::vector<HistoryRow> summary = history_summary_rows(list);
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(summary[0].cells[kColDate], "＝＝＝");
  EXPECT_EQ(summary[1].cells[kColDate], "合計");
  EXPECT_EQ(summary[2].cells[kColDate], "2 ファイル");
  EXPECT_EQ(summary[3].cells[kColDate], "1234 byte");
}

TEST(History, OverlongAndMalformedPartsAreSkippedNotTheRest) {
  std::string text = "Date: x\r\nURL: " + std::string(5000, 'u') + "\r\n";
  text += std::string(300, 'K') + ": value\r\n";
  text += "junk line without the separator\r\nOther: skipped\r\nFileSize: 7\r\n\r\n";
  text += kTwoRecords;
  text += "Date: unterminated\r\nFileSize: 5";
  const HistoryList list = parse_history(text);
  ASSERT_EQ(list.rows.size(), 4u);
  EXPECT_EQ(list.rows[0].cells[kColDate], "x");
  EXPECT_EQ(list.rows[0].cells[kColUrl], "");
  EXPECT_EQ(list.rows[0].cells[kColSize], "7");
  EXPECT_EQ(list.rows[2].cells[kColFilename], "b.zip");
  EXPECT_EQ(list.rows[3].cells[kColSize], "5");
  EXPECT_EQ(list.complete_records, 3);  // the last record lacks its empty line
  EXPECT_EQ(list.total_bytes, 7 + 1234 + 5);
}

TEST(History, AMissingFileIsCreatedEmpty) {
  testing::TempFolder tmp;
  const HistoryList list = load_history_file(tmp.file("tvnlog.txt").c_str());
  EXPECT_TRUE(list.rows.empty());
  EXPECT_EQ(list.complete_records, 0);
  EXPECT_TRUE(tmp.exists("tvnlog.txt"));
  EXPECT_EQ(history_summary_rows(list)[3].cells[kColDate], "0 byte");
  tmp.write("tvnlog.txt", kTwoRecords);
  EXPECT_EQ(load_history_file(tmp.file("tvnlog.txt").c_str()).complete_records, 2);
}

}  // namespace
}  // namespace torvane
