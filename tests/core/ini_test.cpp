// The INI reader and writer, and the access layer over it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "gui/shell/ini_access.h"
#include "platform/ini.h"
#include "temp_folder.h"

namespace torvane {
namespace {

using platform::ini_read_int;
using testing::TempFolder;

constexpr const char* kSample =
    "; settings of the test\r\n"
    "[Setting]\r\n"
    "maxdlfiles = 7 \r\n"
    "Quoted=\"  spaced value  \"\r\n"
    "Single='x'\r\n"
    "# not a key=1\r\n"
    "Dup=first\r\n"
    "Dup=second\r\n"
    "\r\n"
    "[Other]\r\n"
    "Key=other\r\n";

TEST(IniRead, FollowsTheProfileRules) {
  TempFolder tmp;
  tmp.write("a.ini", kSample);
  const std::string path = tmp.file("a.ini");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;  // nullptr: absent
  } cases[] = {
      {"SETTING", "MaxDLFiles", "7"},         {"setting", "quoted", "  spaced value  "},
      {"Setting", "Single", "x"},             {"Setting", "Dup", "first"},
      {"Setting", "# not a key", nullptr},    {"Setting", "Key", nullptr},
      {"Other", "key", "other"},              {"Missing", "Key", nullptr},
  };
  for (const Case& c : cases) {
    std::string value;
    const bool found = platform::ini_get(path.c_str(), c.section, c.key, value);
    EXPECT_EQ(found, c.expected != nullptr) << c.section << "/" << c.key;
    if (c.expected != nullptr) {
      EXPECT_EQ(value, c.expected) << c.key;
    }
  }
  EXPECT_EQ(ini_read_int(path.c_str(), "Setting", "MaxDLFiles", -1), 7);
  EXPECT_EQ(ini_read_int(path.c_str(), "Setting", "Dup", -1), 0);  // present, not a number
  EXPECT_EQ(ini_read_int(path.c_str(), "Setting", "Nope", -1), -1);
  EXPECT_EQ(ini_read_int(tmp.file("none.ini").c_str(), "Setting", "MaxDLFiles", 15), 15);
}

TEST(IniRead, IntegersParseSignsAndSaturate) {
  TempFolder tmp;
  tmp.write("n.ini", "[s]\na=-3\nb=12abc\nc=99999999999\nd=+4\ne=-99999999999\n");
  const std::string p = tmp.file("n.ini");
  EXPECT_EQ(ini_read_int(p.c_str(), "s", "a", 0), -3);
  EXPECT_EQ(ini_read_int(p.c_str(), "s", "b", 0), 12);
  EXPECT_EQ(ini_read_int(p.c_str(), "s", "c", 0), 2147483647);
  EXPECT_EQ(ini_read_int(p.c_str(), "s", "d", 0), 4);
  EXPECT_EQ(ini_read_int(p.c_str(), "s", "e", 0), -2147483647 - 1);
}

TEST(IniWrite, ReadModifyWriteKeepsEverythingElse) {
  TempFolder tmp;
  tmp.write("a.ini", kSample);
  const std::string p = tmp.file("a.ini");
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "SETTING", "MAXDLFILES", "9"), 1);
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "setting", "NewKey", "n"), 1);
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "Third", "k", "v"), 1);
  EXPECT_EQ(tmp.read("a.ini"),
            "; settings of the test\r\n"
            "[Setting]\r\n"
            "maxdlfiles=9\r\n"
            "Quoted=\"  spaced value  \"\r\n"
            "Single='x'\r\n"
            "# not a key=1\r\n"
            "Dup=first\r\n"
            "Dup=second\r\n"
            "NewKey=n\r\n"
            "\r\n"
            "[Other]\r\n"
            "Key=other\r\n"
            "\r\n"
            "[Third]\r\n"
            "k=v\r\n");
  // Nothing but the target is left in the folder: the temporary file was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.dir()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(IniWrite, RefusesLineBreaksAndNulAndLeavesTheFile) {
  TempFolder tmp;
  tmp.write("a.ini", kSample);
  const std::string p = tmp.file("a.ini");
  using namespace std::string_literals;
  const std::string bad[] = {"a\r\n[Evil]"s, "a\nb"s, "a\rb"s, "a\0b"s};
  for (const std::string& text : bad) {
    EXPECT_EQ(platform::ini_write_string(p.c_str(), "Setting", "URL_0", text), 0);
    EXPECT_EQ(platform::ini_write_string(p.c_str(), "Setting", text, "v"), 0);
    EXPECT_EQ(platform::ini_write_string(p.c_str(), text, "k", "v"), 0);
    EXPECT_EQ(platform::ini_write_section_lines(p.c_str(), "Setting", {"k=" + text}), 0);
  }
  EXPECT_EQ(platform::ini_write_string(p.c_str(), "a]b", "k", "v"), 0);
  for (const char* key : {"a=b", "[x]", ";c", ""}) {
    EXPECT_EQ(platform::ini_write_string(p.c_str(), "Setting", key, "v"), 0) << key;
  }
  EXPECT_EQ(platform::ini_write_section_lines(p.c_str(), "Setting", {"[Evil]"}), 0);
  EXPECT_EQ(tmp.read("a.ini"), kSample);
}

TEST(IniWrite, KeepsTheFileModeAndCreatesFolders) {
  TempFolder tmp;
  tmp.write("m.ini", "[s]\na=1\n");
  ::chmod(tmp.file("m.ini").c_str(), 0600);
  ASSERT_EQ(platform::ini_write_string(tmp.file("m.ini").c_str(), "s", "a", "2"), 1);
  struct stat st {};
  ASSERT_EQ(::stat(tmp.file("m.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(platform::ini_write_string(tmp.file("Servers/new.ini").c_str(), "s", "k", "v"), 1);
  EXPECT_EQ(tmp.read("Servers/new.ini"), "[s]\nk=v\n");
}

TEST(IniSection, ReplaceAndListings) {
  TempFolder tmp;
  tmp.write("a.ini", "[A]\nx=1\n;keep? no, body goes\ny=2\n\n[B]\nz=3\n");
  const std::string p = tmp.file("a.ini");
  ASSERT_EQ(platform::ini_write_section(p.c_str(), "a", "q=9\0r=8\0\0"), 1);
  EXPECT_EQ(tmp.read("a.ini"), "[A]\nq=9\nr=8\n\n[B]\nz=3\n");
  ASSERT_EQ(platform::ini_write_section(p.c_str(), "B", ""), 1);
  EXPECT_EQ(tmp.read("a.ini"), "[A]\nq=9\nr=8\n\n[B]\n");

  char buf[32];
  EXPECT_EQ(platform::ini_list_keys(p.c_str(), "A", "--", buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 5), std::string("q\0r\0\0", 5));
  EXPECT_EQ(platform::ini_list_keys(p.c_str(), "B", "--", buf, sizeof buf), 3u);
  EXPECT_EQ(std::string(buf, 4), std::string("--\0\0", 4));
  EXPECT_EQ(platform::ini_list_sections(p.c_str(), buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 5), std::string("A\0B\0\0", 5));
  EXPECT_EQ(platform::ini_read_section(p.c_str(), "A", buf, sizeof buf), 8u);
  EXPECT_EQ(std::string(buf, 9), std::string("q=9\0r=8\0\0", 9));
  // Cut lists end in a double NUL and report size - 2.
  EXPECT_EQ(platform::ini_read_section(p.c_str(), "A", buf, 6), 4u);
  EXPECT_EQ(std::string(buf, 6), std::string("q=9\0\0\0", 6));
  // A single value is cut to size - 1.
  EXPECT_EQ(platform::ini_read_string(p.c_str(), "A", "q", "--", buf, 1), 0u);
  EXPECT_EQ(platform::ini_read_string(p.c_str(), "A", "zz", "dflt  ", buf, 4), 3u);
  EXPECT_STREQ(buf, "dfl");
}

TEST(IniAccess, WithoutPathReadsNothingAndWritesNothing) {
  const IniAccess none;
  EXPECT_EQ(none.read_int("SETTING", "LogView", 2), 0);
  std::string text = "untouched";
  EXPECT_EQ(none.read_text("SETTING", "OtherName", text, 512), 0u);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(none.write_text("SETTING", "a", "b"), 0);
  EXPECT_EQ(none.delete_key("SETTING", "a"), 0);
}

TEST(IniAccess, DeleteKeyTakesOnlyTheExactNameAcrossALongSection) {
  TempFolder tmp;
  std::string text = "[S]\nAK=keep\n";
  for (int i = 0; i < 400; ++i) text += "filler" + std::to_string(i) + "=xxxxxxxxxx\n";
  text += "; comment\nk=case differs\nK=gone\nlast=after the limit\n";
  ASSERT_GT(text.size(), 4095u * 2);
  tmp.write("a.ini", text);
  const IniAccess ini(tmp.file("a.ini"));
  EXPECT_EQ(ini.delete_key("S", "K"), 1);
  std::string expected = text;
  expected.erase(expected.find("K=gone\n"), 7);
  EXPECT_EQ(tmp.read("a.ini"), expected);
  EXPECT_EQ(ini.delete_key("S", "K"), 0);
  EXPECT_EQ(ini.delete_key("S", "missing", tmp.file("none.ini").c_str()), 0);
}

TEST(IniAccess, FallbackReads) {
  TempFolder tmp;
  tmp.write("host.ini", "[T]\nText=--\nNum=-1\nOwn=host\nN=5\n");
  tmp.write("def.ini", "[T]\nText=default\nNum=7\nOwn=def\nN=6\n");
  const std::string host = tmp.file("host.ini");
  const std::string def = tmp.file("def.ini");
  std::string out;
  EXPECT_EQ(read_text_with_fallback("T", "Text", out, 1023, host.c_str(), def.c_str()), 7);
  EXPECT_EQ(out, "default");
  EXPECT_EQ(read_text_with_fallback("T", "Own", out, 1023, host.c_str(), def.c_str()), 4);
  EXPECT_EQ(out, "host");
  EXPECT_EQ(read_text_with_fallback("T", "Text", out, 1023, host.c_str(), nullptr), -1);
  EXPECT_EQ(read_text_with_fallback("T", "Own", out, 1023, nullptr, def.c_str()), -1);
  EXPECT_EQ(read_int_with_fallback("T", "Num", -1, host.c_str(), def.c_str()), 7);
  EXPECT_EQ(read_int_with_fallback("T", "N", -1, host.c_str(), def.c_str()), 5);
  EXPECT_EQ(read_int_with_fallback("T", "Num", -1, host.c_str(), nullptr), -1);
  EXPECT_EQ(read_int_with_fallback("T", "N", -1, nullptr, def.c_str()), -1);
}

TEST(ProgramFolder, JoinsStoredNamesInsideTheFolder) {
  const ProgramFolder folder = ProgramFolder::of_program_file("/opt/tv/bin/torvane-gui");
  EXPECT_EQ(folder.path("Torvane.ini"), "/opt/tv/bin/Torvane.ini");
  EXPECT_EQ(folder.stored_path("Servers\\default.ini"), "/opt/tv/bin/Servers/default.ini");
  EXPECT_EQ(folder.stored_path("/etc/x.ini"), "/opt/tv/bin/etc/x.ini");
  EXPECT_EQ(ProgramFolder("/a").path("b"), "/a/b");
}

}  // namespace
}  // namespace torvane
