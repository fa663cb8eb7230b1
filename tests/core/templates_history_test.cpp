// The local-time texts, rename templates, the shutdown-time text and the history reader.
#include <gtest/gtest.h>

#include <string>

#include "gui/extras/history_reader.h"
#include "gui/extras/local_time_text.h"
#include "gui/extras/name_template.h"
#include "gui/extras/set_time_text.h"
#include "tests/support/test_files.h"

namespace torvane {

const ManualClock kTuesday(LocalTime{2004, 3, 2, 9, 14, 5, 30});

TEST(TimeTexts, LocalTimeSetTimeAndDuration) {
  std::string out;
  ASSERT_EQ(format_local_time(ManualClock(LocalTime{2004, 3, 6, 9, 14, 5, 30}), 0, out), 0);
  EXPECT_EQ(out, "03/09(土) 14:05");
  const auto set_time = [](const char* text) { return format_set_time(parse_set_time(text)); };
  EXPECT_EQ(set_time("y2001 mo12 d24 h23 mi30 s00"), "y2001 mo12 d24 h23 mi30 s00 ");
  EXPECT_EQ(set_time("h1x:mi05,q s09"), "h01 mi05 ");  // 'q' ends the reading
  EXPECT_EQ(set_time("y20"), "y0020 ");                // a field cut by the end of the text
  EXPECT_EQ(format_duration(3630), "001:00:30");
  EXPECT_EQ(format_duration(360000 + 59), "100:00:59");
}

TEST(NameTemplate, Tokens) {
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
      {"/dl/a.b.c", "$f", false, 0, "/dl/a.b"},
      {"/dl/a.txt", "x$q", true, 0, "/dl/x"},
      {"/dl/a.txt", "x$q", false, -1, "/dl/a.txt"},
      {"/dl/a.txt", "$2t", false, -1, "/dl/a.txt"},
      {"/dl/a.txt", "$2t", true, 0, "/dl/03月09日(火) 14時05分"},
      {"/dl/a.txt", "$1t", false, 0, "/dl/03月09日(火) 14時05分30秒"},
      {"no-folder.txt", "$f", false, -1, "no-folder.txt"},
  };
  for (const Case& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(apply_name_template(path, c.tmpl, c.ignore, kTuesday), c.result) << c.tmpl;
    EXPECT_EQ(path, c.expected) << (c.tmpl ? c.tmpl : "default");
  }
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
  const auto& a = list.rows[0].cells;
  EXPECT_EQ(a[kColDate] + "|" + a[kColFilename] + "|" + a[kColSize] + "|" + a[kColDivide] + "|" +
                a[kColSpeed] + "|" + a[kColTime] + "|" + a[kColSave] + "|" + a[kColUrl],
            "03/09(火) 14:05|a.zip|1000|4|0.50KB/s|000:00:02|/dl/|http://h/a.zip");
  const std::vector<HistoryRow> summary = history_summary_rows(list);
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_EQ(summary[2].cells[kColDate] + "|" + summary[3].cells[kColDate], "2 ファイル|1234 byte");
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
  EXPECT_EQ(list.rows[3].cells[kColSize], "5");
  EXPECT_EQ(list.complete_records, 3);  // the last record lacks its empty line
  EXPECT_EQ(list.total_bytes, 7 + 1234 + 5);
}

TEST(History, AMissingFileIsCreatedEmpty) {
  test::TempDir tmp;
  const std::string log = tmp.path() + "/tvnlog.txt";
  EXPECT_TRUE(load_history_file(log.c_str()).rows.empty());
  EXPECT_TRUE(test::path_exists(log));
  test::write_file(log, kTwoRecords);
  EXPECT_EQ(load_history_file(log.c_str()).complete_records, 2);
}

}  // namespace torvane
