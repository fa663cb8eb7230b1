// Server profile lookup and editing, and the file-size table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/items/server_profiles.h"
#include "gui/items/size_table.h"
#include "tests/support/test_files.h"

namespace torvane {
namespace {

using test::path_exists;
using test::read_file;
using test::write_file;
using Names = std::vector<std::string>;

class ServerProfiles : public ::testing::Test {
 protected:
  void index(const std::string& body) { write_file(dir_ + "Servers.ini", "[ServerData]\n" + body); }
  test::TempDir tmp_;
  const std::string dir_ = tmp_.path() + "/";
  ProgramFolder folder_{tmp_.path()};
};

TEST_F(ServerProfiles, LookupOrder) {
  index(
      "dl.example.com=Servers/host.ini\nexample.com=Servers\\domain.ini\nb.c.d=Servers/bcd.ini\n"
      "host:8080=Servers/port.ini\nexample.net:81=Servers/port-domain.ini\n"
      "default=Servers/mine.ini\n");
  EXPECT_EQ(find_server_profile(folder_, "http://DL.Example.com/f.zip"), dir_ + "Servers/host.ini");
  EXPECT_EQ(find_server_profile(folder_, "http://www.example.com/f.zip"),
            dir_ + "Servers/domain.ini");
  // b.c.d is never tried, c.d is not listed.
  EXPECT_EQ(find_server_profile(folder_, "http://a.b.c.d/f"), std::nullopt);
  EXPECT_EQ(find_server_profile(folder_, "http://host:8080/f"), dir_ + "Servers/port.ini");
  EXPECT_EQ(find_server_profile(folder_, "http://www.example.net:81/f"),
            dir_ + "Servers/port-domain.ini");
  EXPECT_EQ(find_server_profile(folder_, "http://dl.example.com"), std::nullopt);  // no '/'
  EXPECT_EQ(default_server_profile(folder_), dir_ + "Servers/mine.ini");
  index("");
  EXPECT_EQ(default_server_profile(folder_), dir_ + "Servers/default.ini");
}

TEST_F(ServerProfiles, NewProfileSavedReadRenamedAndDeleted) {
  index("zeta=Servers/z.ini\nalpha=Servers/a.ini\n");
  const std::vector<ProfileRow> written{
      {"Cookie", "2"}, {"Retry", "-1"}, {"Div", "4"}, {"DataType", "1"}};
  ASSERT_EQ(write_server_profile(folder_, kNewProfileName, kNewProfileFile, written), 0);
  EXPECT_EQ(read_file(dir_ + "Servers/newsv.ini"),
            "[TVNBASICDATA]\nCookie=2\nRetry=-1\nDiv=4\nDataType=1\n");
  std::string current(kNewProfileName);
  ASSERT_EQ(finish_profile_edit(current, "files.test", true), 2);
  ASSERT_EQ(rename_server_entry(folder_, 2, "", current), 0);
  EXPECT_EQ(list_server_profiles(folder_), (Names{"default", "zeta", "alpha", "files.test"}));
  std::vector<ProfileRow> rows;
  std::string file;
  ASSERT_EQ(read_server_profile(folder_, "files.test", rows, file), 0);
  EXPECT_EQ(file, "Servers/newsv.ini");
  Names keys;
  for (const ProfileRow& r : rows) keys.push_back(r.key + "=" + r.value);
  EXPECT_EQ(keys, (Names{"DataType=1", "Div=4", "Cookie=2"}));  // the dialog's order, -1 absent
  ASSERT_EQ(finish_profile_edit(current, "second", false), 1);
  ASSERT_EQ(rename_server_entry(folder_, 1, "files.test", "second"), 0);
  EXPECT_EQ(server_profile_file(folder_, "second"), "Servers/newsv.ini");  // the file is kept
  ASSERT_EQ(delete_server_profile(folder_, "second"), 0);
  EXPECT_FALSE(path_exists(dir_ + "Servers/newsv.ini"));
  ASSERT_EQ(write_server_profile(folder_, "default", "Servers\\default.ini", {{"Retry", "9"}}), 0);
  EXPECT_EQ(list_server_profiles(folder_), (Names{"default", "zeta", "alpha"}));  // no entry for it
}

TEST_F(ServerProfiles, ALineBreakInARowWritesNothing) {
  index("a=Servers/a.ini\n");
  EXPECT_EQ(write_server_profile(folder_, "b", "Servers/b.ini", {{"Proxy", "p\r\n[X]"}}), -1);
  EXPECT_EQ(write_server_profile(folder_, "b", "Servers/b.ini", {{"Bad=Key", "1"}}), -1);
  EXPECT_EQ(write_server_profile(folder_, "b\nc", "Servers/b.ini", {}), -1);
  EXPECT_EQ(read_file(dir_ + "Servers.ini"), "[ServerData]\na=Servers/a.ini\n");
  EXPECT_FALSE(path_exists(dir_ + "Servers/b.ini"));
}

TEST(SizeTable, RangesLookupAndEditor) {
  // A missing or non-numeric part is 0; "%d-" when hi is 0.
  EXPECT_EQ(format_range(parse_range("1048577-")), "1048577-");
  EXPECT_EQ(format_range(parse_range("500")), "500-");
  EXPECT_EQ(format_range(parse_range("abc")), "0-");
  EXPECT_EQ(format_range(parse_range("5-x")), "5-");
  EXPECT_EQ(format_range(parse_range("99999999999-1")), "2147483647-1");
  EXPECT_TRUE(range_matches({-1, 0}, 0xFFFFFFFFu));  // a negative bound is a large one
  EXPECT_FALSE(range_matches({-1, 0}, 5));
  test::TempDir tmp;
  const std::string path = tmp.path() + "/Torvane.ini";
  const IniAccess ini(path);
  EXPECT_EQ(divisions_for_size(ini, 10), std::nullopt);  // no file
  write_file(path, "[Divide]\n0-1048576=1\n1048577-=-1\n");
  EXPECT_EQ(divisions_for_size(ini, 1048576), 1);
  EXPECT_EQ(divisions_for_size(ini, 1048577), std::nullopt);  // the item keeps its count
  write_file(path, "[Divide]\n0-100=-1\n50-200=3\n0-=7\n");
  EXPECT_EQ(divisions_for_size(ini, 60), 3);  // a -1 row is passed over
  EXPECT_EQ(divisions_for_size(ini, 10), 7);
  EXPECT_EQ(divisions_for_size(ini, 0), std::nullopt);
  // The editor: rows read as stored, edited, written back in order.
  write_file(path, "[Divide]\n0-100=2\nnoise=x\n");
  std::vector<SizeRow> rows = read_size_table(ini);
  SizeRow added{"0-", 1};
  EXPECT_EQ(apply_range_edit(added, "300", 1), 1);  // only the range changed
  EXPECT_EQ(apply_range_edit(added, "300-0", 1), 0);
  EXPECT_EQ(apply_range_edit(added, "300-0", -1), 1);
  rows.push_back(added);
  rows.push_back(SizeRow{"0-100", 5});  // same range as the first row: its count wins
  ASSERT_EQ(write_size_table(ini, rows), 1);
  EXPECT_EQ(read_file(path), "[Divide]\n0-100=5\nnoise=0\n300-=-1\n");
  EXPECT_EQ(write_size_table(ini, {SizeRow{"1-2\n[SETTING]", 1}}), 0);
  EXPECT_EQ(read_file(path), "[Divide]\n0-100=5\nnoise=0\n300-=-1\n");
}

}  // namespace
}  // namespace torvane
