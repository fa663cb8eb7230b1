// Server profile lookup and editing, and the file-size table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/items/server_profiles.h"
#include "gui/items/size_table.h"
#include "temp_folder.h"

namespace torvane {
namespace {

using testing::TempFolder;

class ServerProfiles : public ::testing::Test {
 protected:
  ServerProfiles() : folder_(tmp_.dir()) {}
  void index(const std::string& body) { tmp_.write("Servers.ini", "[ServerData]\n" + body); }
  TempFolder tmp_;
  ProgramFolder folder_;
};

TEST_F(ServerProfiles, LookupOrder) {
  index("dl.example.com=Servers/host.ini\n"
        "example.com=Servers\\domain.ini\n"
        "a.b.c.d=Servers/abcd.ini\n"
        "b.c.d=Servers/middle.ini\n"
        "host:8080=Servers/port.ini\n"
        "example.net:81=Servers/port-domain.ini\n"
        "default=Servers/mine.ini\n");
  struct Case {
    const char* url;
    const char* profile;  // nullptr: none
  } cases[] = {
      {"http://dl.example.com/f.zip", "Servers/host.ini"},
      {"http://DL.Example.com/f.zip", "Servers/host.ini"},
      {"http://www.example.com/f.zip", "Servers/domain.ini"},
      {"http://x.a.b.c.d/f", nullptr},  // b.c.d is never tried, c.d is not listed
      {"http://a.b.c.d/f", "Servers/abcd.ini"},
      {"http://host:8080/f", "Servers/port.ini"},
      {"http://www.example.net:81/f", "Servers/port-domain.ini"},
      {"http://dl.example.com", nullptr},  // no '/' after the host
      {"http://example.org/f", nullptr},   // one dot: no domain step
  };
  for (const Case& c : cases) {
    const std::optional<std::string> got = find_server_profile(folder_, c.url);
    ASSERT_EQ(got.has_value(), c.profile != nullptr) << c.url;
    if (got) {
      EXPECT_EQ(*got, tmp_.file(c.profile)) << c.url;
    }
  }
  EXPECT_EQ(default_server_profile(folder_), tmp_.file("Servers/mine.ini"));
  index("");
  EXPECT_EQ(default_server_profile(folder_), tmp_.file("Servers/default.ini"));
}

TEST_F(ServerProfiles, ListReadAndRowOrder) {
  index("zeta=Servers/z.ini\nalpha=Servers/a.ini\n");
  EXPECT_EQ(list_server_profiles(folder_),
            (std::vector<std::string>{"default", "zeta", "alpha"}));
  tmp_.write("Servers/a.ini",
             "[TVNBASICDATA]\nCookie=2\nurljump=0\nskip=3\nAutoReferrer=1\nReferrer=http://r/\n"
             "Div=4\nProxy=p:8080\nRetry=-1\nURL=--\nDataType=1\n");
  std::vector<ProfileRow> rows;
  std::string file;
  ASSERT_EQ(read_server_profile(folder_, "alpha", rows, file), 0);
  EXPECT_EQ(file, "Servers/a.ini");
  std::vector<std::string> keys;
  for (const ProfileRow& r : rows) keys.push_back(r.key + "=" + r.value);
  EXPECT_EQ(keys, (std::vector<std::string>{"DataType=1", "Proxy=p:8080", "Div=4",
                                            "Referrer=http://r/", "skip=3", "Cookie=2"}));
  EXPECT_EQ(read_server_profile(folder_, "missing", rows, file), -1);
  ASSERT_EQ(read_server_profile(folder_, "default", rows, file), 0);
  EXPECT_EQ(file, "Servers/default.ini");
  EXPECT_TRUE(rows.empty());
}

TEST_F(ServerProfiles, NewProfileSavedThenRenamedAndDeleted) {
  index("first=Servers/first.ini\n");
  std::string current;  // the "new" form starts from an empty name
  const std::vector<ProfileRow> rows{{"Div", "2"}, {"Div", "8"}, {"Proxy", "p:1"}};
  ASSERT_EQ(write_server_profile(folder_, kNewProfileName, kNewProfileFile, rows), 0);
  current = std::string(kNewProfileName);
  const int result = finish_profile_edit(current, "files.test", true);
  EXPECT_EQ(result, 2);
  ASSERT_EQ(rename_server_entry(folder_, result, "", current), 0);
  EXPECT_EQ(list_server_profiles(folder_),
            (std::vector<std::string>{"default", "first", "files.test"}));
  EXPECT_EQ(tmp_.read("Servers/newsv.ini"), "[TVNBASICDATA]\nDiv=2\nDiv=8\nProxy=p:1\n");
  EXPECT_EQ(*find_server_profile(folder_, "http://files.test/x"), tmp_.file("Servers/newsv.ini"));

  // Renaming keeps the file and the position.
  current = "first";
  EXPECT_EQ(finish_profile_edit(current, "second", false), 1);
  ASSERT_EQ(rename_server_entry(folder_, 1, "first", "second"), 0);
  EXPECT_EQ(list_server_profiles(folder_),
            (std::vector<std::string>{"default", "files.test", "second"}));
  EXPECT_EQ(*server_profile_file(folder_, "second"), "Servers/first.ini");
  current = "second";
  EXPECT_EQ(finish_profile_edit(current, "second", false), 0);
  EXPECT_EQ(rename_server_entry(folder_, 1, "nobody", "x"), -1);

  ASSERT_EQ(delete_server_profile(folder_, "files.test"), 0);
  EXPECT_FALSE(tmp_.exists("Servers/newsv.ini"));
  EXPECT_EQ(list_server_profiles(folder_), (std::vector<std::string>{"default", "second"}));
}

TEST_F(ServerProfiles, DefaultFileIsNotIndexedAndDeletedOnlyWithAnEntry) {
  index("");
  ASSERT_EQ(write_server_profile(folder_, "default", "Servers\\default.ini", {{"Retry", "9"}}), 0);
  EXPECT_EQ(list_server_profiles(folder_), (std::vector<std::string>{"default"}));
  EXPECT_EQ(delete_server_profile(folder_, "default"), -1);
  EXPECT_TRUE(tmp_.exists("Servers/default.ini"));
  index("default=Servers/default.ini\n");
  EXPECT_EQ(delete_server_profile(folder_, "default"), 0);
  EXPECT_FALSE(tmp_.exists("Servers/default.ini"));
}

TEST_F(ServerProfiles, ALineBreakInARowWritesNothing) {
  index("a=Servers/a.ini\n");
  tmp_.write("Servers/a.ini", "[TVNBASICDATA]\nRetry=1\n");
  EXPECT_EQ(write_server_profile(folder_, "b", "Servers/b.ini", {{"Proxy", "p\r\n[X]"}}), -1);
  EXPECT_EQ(write_server_profile(folder_, "b", "Servers/b.ini", {{"Bad=Key", "1"}}), -1);
  EXPECT_EQ(write_server_profile(folder_, "b\nc", "Servers/b.ini", {}), -1);
  EXPECT_EQ(tmp_.read("Servers.ini"), "[ServerData]\na=Servers/a.ini\n");
  EXPECT_FALSE(tmp_.exists("Servers/b.ini"));
}

class SizeTable : public ::testing::Test {
 protected:
  SizeTable() : ini_(tmp_.file("Torvane.ini")) {}
  void table(const std::string& body) { tmp_.write("Torvane.ini", "[Divide]\n" + body); }
  TempFolder tmp_;
  IniAccess ini_;
};

TEST_F(SizeTable, RangeTexts) {
  struct Case {
    const char* text;
    int lo, hi;
    const char* formatted;
  } cases[] = {
      {"0-1048576", 0, 1048576, "0-1048576"}, {"1048577-", 1048577, 0, "1048577-"},
      {"500", 500, 0, "500-"},                {"abc", 0, 0, "0-"},
      {"5-x", 5, 0, "5-"},                    {"-5-10", -5, 10, "-5-10"},
      {"99999999999-1", 2147483647, 1, "2147483647-1"},
  };
  for (const Case& c : cases) {
    const SizeRange r = parse_range(c.text);
    EXPECT_EQ(r.lo, c.lo) << c.text;
    EXPECT_EQ(r.hi, c.hi) << c.text;
    EXPECT_EQ(format_range(r), c.formatted);
  }
  EXPECT_TRUE(range_matches({-1, 0}, 0xFFFFFFFFu));  // a negative bound is a large one
  EXPECT_FALSE(range_matches({-1, 0}, 5));
}

TEST_F(SizeTable, Lookup) {
  table("0-1048576=1\n1048577-=-1\n");
  EXPECT_EQ(divisions_for_size(ini_, 1048576), 1);
  EXPECT_EQ(divisions_for_size(ini_, 1048577), std::nullopt);  // the item keeps its count
  table("0-100=-1\n50-200=3\n0-=7\n");
  EXPECT_EQ(divisions_for_size(ini_, 60), 3);   // a -1 row is passed over
  EXPECT_EQ(divisions_for_size(ini_, 10), 7);
  EXPECT_EQ(divisions_for_size(ini_, 0), std::nullopt);
  EXPECT_EQ(divisions_for_size(IniAccess(tmp_.file("none.ini")), 10), std::nullopt);
}

TEST_F(SizeTable, EditorRoundTrip) {
  table("0-100=2\nnoise=x\n");
  std::vector<SizeRow> rows = read_size_table(ini_);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].range, "noise");
  EXPECT_EQ(rows[1].count, 0);

  SizeRow added{format_range({0, 0}), 1};
  EXPECT_EQ(apply_range_edit(added, "300", 1), 1);  // only the range changed
  EXPECT_EQ(added.range, "300-");
  EXPECT_EQ(apply_range_edit(added, "300-0", 1), 0);
  EXPECT_EQ(apply_range_edit(added, "300", -1), 1);
  rows.push_back(added);
  rows.push_back(SizeRow{"0-100", 5});  // same range as the first row: its count wins
  ASSERT_EQ(write_size_table(ini_, rows), 1);
  EXPECT_EQ(tmp_.read("Torvane.ini"), "[Divide]\n0-100=5\nnoise=0\n300-=-1\n");
  EXPECT_EQ(write_size_table(ini_, {SizeRow{"1-2\n[SETTING]", 1}}), 0);
  EXPECT_EQ(tmp_.read("Torvane.ini"), "[Divide]\n0-100=5\nnoise=0\n300-=-1\n");
}

}  // namespace
}  // namespace torvane
