// Reading and writing the program settings.
#include <gtest/gtest.h>

#include <string>

#include "gui/shell/settings.h"
#include "temp_folder.h"

namespace torvane {
namespace {

using testing::TempFolder;

TEST(Settings, DefaultsFromAMissingFile) {
  TempFolder tmp;
  const IniAccess ini(tmp.file("Torvane.ini"));
  ProgramSettings s;
  read_settings(ini, s);
  EXPECT_EQ(s.log_view, 2);
  EXPECT_EQ(s.log_height, 150);
  EXPECT_EQ(s.strict_dl_info, 1);
  EXPECT_FALSE(s.other_name.has_value());
  EXPECT_EQ(read_max_dl_files(ini), 15);
  EXPECT_FALSE(tmp.exists("Torvane.ini"));
}

TEST(Settings, MaxDlFilesZeroOrBelowMeansFifteen) {
  TempFolder tmp;
  const IniAccess ini(tmp.file("Torvane.ini"));
  for (const char* stored : {"0", "-3", "abc"}) {
    tmp.write("Torvane.ini", std::string("[SETTING]\nMaxDLFiles=") + stored + "\n");
    const int limit = read_max_dl_files(ini);
    EXPECT_EQ(limit, 15) << stored;
    ASSERT_EQ(write_max_dl_files(ini, limit), 1);
    EXPECT_EQ(tmp.read("Torvane.ini"), "[SETTING]\nMaxDLFiles=15\n");
  }
  tmp.write("Torvane.ini", "[SETTING]\nMaxDLFiles=4\n");
  EXPECT_EQ(read_max_dl_files(ini), 4);
}

TEST(Settings, RoundTripKeepsAbsentTemplatesAbsent) {
  TempFolder tmp;
  tmp.write("Torvane.ini",
            "; user notes stay\n"
            "[SETTING]\n"
            "Renane=--\n"
            "URL_0=http://example.test/a.zip\n"
            "HowtoSD=3\n"
            "[SDTIME]\n"
            "Year=9999\n"
            "Month=-1\n");
  const IniAccess ini(tmp.file("Torvane.ini"));
  ProgramSettings s;
  read_settings(ini, s);
  EXPECT_FALSE(s.other_name.has_value());  // the key is missing
  EXPECT_FALSE(s.renane.has_value());      // "--" means absent
  EXPECT_EQ(s.how_to_sd, 3);
  EXPECT_EQ(s.shutdown_time.year, 9999);
  EXPECT_EQ(s.shutdown_time.month, 65535);  // held as a 16-bit value

  s.how_to_sd |= kShutdownStartedMark;  // a shutdown ran in this session
  s.exist_file = 2;
  ASSERT_EQ(write_settings(ini, s), 0);
  const std::string text = tmp.read("Torvane.ini");
  EXPECT_EQ(text.find("OtherName"), std::string::npos);
  EXPECT_NE(text.find("Renane=--\n"), std::string::npos);
  EXPECT_NE(text.find("HowtoSD=3\n"), std::string::npos);
  EXPECT_NE(text.find("Month=65535\n"), std::string::npos);
  EXPECT_NE(text.find("; user notes stay\n"), std::string::npos);
  EXPECT_NE(text.find("URL_0=http://example.test/a.zip\n"), std::string::npos);

  ProgramSettings again;
  read_settings(ini, again);
  EXPECT_EQ(again.exist_file, 2);
  EXPECT_EQ(again.how_to_sd, 3);
  EXPECT_FALSE(again.other_name.has_value());
}

TEST(Settings, TemplatesAreWrittenWhenSetAndCutTo511) {
  TempFolder tmp;
  const IniAccess ini(tmp.file("Torvane.ini"));
  ProgramSettings s;
  s.other_name = "$f(2).$e";
  s.renane = std::string(600, 'r');
  ASSERT_EQ(write_settings(ini, s), 0);
  ProgramSettings back;
  read_settings(ini, back);
  EXPECT_EQ(back.other_name, "$f(2).$e");
  ASSERT_TRUE(back.renane.has_value());
  EXPECT_EQ(back.renane->size(), 511u);
}

TEST(Settings, ATemplateWithALineBreakIsNotWritten) {
  TempFolder tmp;
  tmp.write("Torvane.ini", "[SETTING]\nOtherName=old\n");
  const IniAccess ini(tmp.file("Torvane.ini"));
  ProgramSettings s;
  s.other_name = "x\r\n[SDTIME]\r\nYear=1";
  EXPECT_EQ(write_settings(ini, s), -1);
  ProgramSettings back;
  read_settings(ini, back);
  EXPECT_EQ(back.other_name, "old");
}

}  // namespace
}  // namespace torvane
