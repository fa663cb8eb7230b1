// The INI reader and writer, the access layer over it, and the program settings.
#include "platform/ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "gui/shell/ini_access.h"
#include "gui/shell/settings.h"
#include "tests/support/test_files.h"

namespace torvane {

using test::read_file;
using test::TempDir;
using test::write_file;

constexpr const char* kSample =
    "; settings of the test\r\n[Setting]\r\nmaxdlfiles = 7 \r\nQuoted=\"  spaced value  \"\r\n"
    "Single='x'\r\n# not a key=1\r\nDup=first\r\nDup=second\r\n\r\n[Other]\r\nKey=other\r\n";

TEST(IniRead, FollowsTheProfileRules) {
  TempDir tmp;
  const std::string p = tmp.path() + "/a.ini";
  write_file(p, kSample);
  const auto get = [&](const char* section, const char* key) -> std::optional<std::string> {
    std::string value;
    return platform::ini_get(p.c_str(), section, key, value) ? std::optional(value) : std::nullopt;
  };
  EXPECT_EQ(get("SETTING", "MaxDLFiles"), "7");  // any case, blanks trimmed
  EXPECT_EQ(get("setting", "quoted"), "  spaced value  ");
  EXPECT_EQ(get("Setting", "Single"), "x");
  EXPECT_EQ(get("Setting", "Dup"), "first");
  EXPECT_EQ(get("Setting", "# not a key"), std::nullopt);
  EXPECT_EQ(get("Setting", "Key"), std::nullopt);                         // only in [Other]
  EXPECT_EQ(platform::ini_read_int(p.c_str(), "Setting", "Dup", -1), 0);  // present, not a number
}

TEST(IniWrite, ReadModifyWriteKeepsEverythingElse) {
  TempDir tmp;
  const std::string p = tmp.path() + "/a.ini";
  write_file(p, kSample);
  ::chmod(p.c_str(), 0600);
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "SETTING", "MAXDLFILES", "9"), 1);
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "setting", "NewKey", "n"), 1);
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "Third", "k", "v"), 1);
  EXPECT_EQ(read_file(p),
            "; settings of the test\r\n[Setting]\r\nmaxdlfiles=9\r\nQuoted=\"  spaced value  \"\r\n"
            "Single='x'\r\n# not a key=1\r\nDup=first\r\nDup=second\r\nNewKey=n\r\n\r\n"
            "[Other]\r\nKey=other\r\n\r\n[Third]\r\nk=v\r\n");
  // The replace was atomic (no temporary file left) and kept the mode.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
  struct stat st {};
  EXPECT_TRUE(::stat(p.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
}

TEST(IniWrite, RefusesLineBreaksAndNulAndLeavesTheFile) {
  TempDir tmp;
  const std::string p = tmp.path() + "/a.ini";
  write_file(p, kSample);
  using namespace std::string_literals;
  for (const std::string& text : {"a\r\n[Evil]"s, "a\nb"s, "a\rb"s, "a\0b"s}) {
    EXPECT_EQ(platform::ini_write_string(p.c_str(), "Setting", "URL_0", text), 0);
    EXPECT_EQ(platform::ini_write_string(p.c_str(), "Setting", text, "v"), 0);
    EXPECT_EQ(platform::ini_write_string(p.c_str(), text, "k", "v"), 0);
  }
  for (const char* key : {"a=b", "[x]", ";c", ""}) {
    EXPECT_EQ(platform::ini_write_string(p.c_str(), "Setting", key, "v"), 0) << key;
  }
  EXPECT_EQ(read_file(p), kSample);
}

TEST(IniAccess, DeleteKeyTakesOnlyTheExactNameAcrossALongSection) {
  TempDir tmp;
  std::string text = "[S]\nAK=keep\n";
  for (int i = 0; i < 400; ++i) text += "filler" + std::to_string(i) + "=xxxxxxxxxx\n";
  text += "k=case differs\nK=gone\nlast=after the limit\n";
  ASSERT_GT(text.size(), 4095u * 2);
  write_file(tmp.path() + "/a.ini", text);
  const IniAccess ini(tmp.path() + "/a.ini");
  EXPECT_EQ(ini.delete_key("S", "K"), 1);
  text.erase(text.find("K=gone\n"), 7);
  EXPECT_EQ(read_file(tmp.path() + "/a.ini"), text);
}

TEST(Settings, MaxDlFilesZeroOrBelowMeansFifteen) {
  TempDir tmp;
  const IniAccess ini(tmp.path() + "/Torvane.ini");
  EXPECT_EQ(read_max_dl_files(ini), 15);  // no file
  const std::pair<const char*, int> rows[] = {{"0", 15}, {"-3", 15}, {"4", 4}};
  for (const auto& [stored, limit] : rows) {
    write_file(tmp.path() + "/Torvane.ini", std::string("[SETTING]\nMaxDLFiles=") + stored + "\n");
    EXPECT_EQ(read_max_dl_files(ini), limit) << stored;
  }
}

TEST(Settings, RoundTripKeepsAbsentTemplatesAbsent) {
  TempDir tmp;
  write_file(tmp.path() + "/Torvane.ini",
             "; user notes stay\n[SETTING]\nRenane=--\nURL_0=http://example.test/a.zip\n"
             "HowtoSD=3\n[SDTIME]\nYear=9999\nMonth=-1\n");
  const IniAccess ini(tmp.path() + "/Torvane.ini");
  ProgramSettings s;
  read_settings(ini, s);
  EXPECT_FALSE(s.other_name.has_value());  // the key is missing
  EXPECT_FALSE(s.renane.has_value());      // "--" means absent
  EXPECT_EQ(s.how_to_sd, 3);
  EXPECT_EQ(s.shutdown_time.month, 65535);  // held as a 16-bit value
  s.how_to_sd |= kShutdownStartedMark;      // a shutdown ran in this session
  s.exist_file = 2;
  ASSERT_EQ(write_settings(ini, s), 0);
  const std::string text = *read_file(tmp.path() + "/Torvane.ini");
  EXPECT_EQ(text.find("OtherName"), std::string::npos);
  for (const char* line :
       {"; user notes stay\n", "Renane=--\n", "URL_0=http://example.test/a.zip\n", "HowtoSD=3\n",
        "Year=9999\n", "Month=65535\n", "ExistFile=2\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  s.other_name = "$f(2).$e";  // written once set
  ASSERT_EQ(write_settings(ini, s), 0);
  ProgramSettings again;
  read_settings(ini, again);
  EXPECT_EQ(again.other_name, "$f(2).$e");
}

}  // namespace torvane
