// The rename templates, the shutdown-time and duration texts, and the history reader.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "core/text/history_reader.h"
#include "core/text/name_template.h"
#include "core/text/set_time_text.h"
#include "tests/support/test_files.h"

namespace torvane {

TEST(TimeTexts, SetTimeDurationAndNameTemplates) {
  const ManualClock tuesday(LocalTime{2004, 3, 2, 9, 14, 5, 30});
  // 'q' ends the reading; a field may be cut by the end of the text.
  const auto set_time = [](const char* text) { return format_set_time(parse_set_time(text)); };
  EXPECT_EQ(set_time("h1x:mi05,q s09") + "|" + set_time("y20"), "h01 mi05 |y0020 ");
  EXPECT_EQ(format_duration(360059), "100:00:59");
  // path, template (nullptr: the default), ignore errors; result and the path after
  const std::tuple<const char*, const char*, bool, int, const char*> cases[] = {
      {"/dl/movie.avi", nullptr, false, 0, "/dl/movie_[03月09日(火) 14時05分].avi"},
      {"/dl/abcdef.txt", "$3f-$12f.$e", false, 0, "/dl/abc-abcdef.txt"},
      {"/dl/a.b.c", "$f", false, 0, "/dl/a.b"},
      {"/dl/a.txt", "x$q123y", true, 0, "/dl/xy"},  // the '$' and four bytes skipped
      {"/dl/a.txt", "x$q", false, -1, "/dl/a.txt"},
      {"/dl/a.txt", "$1t", false, 0, "/dl/03月09日(火) 14時05分30秒"},
      {"no-folder.txt", "$f", false, -1, "no-folder.txt"},
  };
  for (const auto& [original, tmpl, ignore, result, expected] : cases) {
    std::string path = original;
    EXPECT_EQ(apply_name_template(path, tmpl, ignore, tuesday), result) << original;
    EXPECT_EQ(path, expected);
  }
}

TEST(History, MissingFileCreatedThenRecordsTotalsAndDamagedParts) {
  test::TempDir tmp;
  const std::string log = tmp / "tvnlog.txt";
  EXPECT_TRUE(load_history_file(log.c_str()).rows.empty());
  EXPECT_TRUE(test::path_exists(log));
  // Over-long and malformed parts are skipped, not the rest; keys in any case.
  std::string text = std::string(300, 'K') + ": v\r\nDate: x\r\nURL: " + std::string(5000, 'u');
  text += "\r\njunk\r\nO: o\r\nFileSize: 7\r\n\r\nDate: d\r\nURL: u\r\nFilename: f\tDivide: 4\r\n";
  text += "Save: s\r\nfilesize: 1000\tTime: t\tSpeed: p\r\n\r\n\r\n\r\ndate: z\r\nFileSize: 5";
  test::write_file(log, text);
  const HistoryList list = load_history_file(log.c_str());
  ASSERT_EQ(list.rows.size(), 3u);
  EXPECT_EQ(list.rows[0].cells[kColDate] + "|" + list.rows[0].cells[kColUrl], "x|");
  const auto& c = list.rows[1].cells;
  EXPECT_EQ(c[kColDate] + c[kColFilename] + c[kColSize] + c[kColDivide] + c[kColSpeed] +
                c[kColTime] + c[kColSave] + c[kColUrl],
            "df10004ptsu");
  // The last record lacks its empty line: not complete, its size counted.
  EXPECT_EQ(history_summary_rows(list).at(2).cells[kColDate], "2 ファイル");
  EXPECT_EQ(history_summary_rows(list).at(3).cells[kColDate], "1012 byte");
}

}  // namespace torvane
