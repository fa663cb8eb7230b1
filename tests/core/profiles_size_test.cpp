// Server profile lookup and editing, and the file-size table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/settings/server_profiles.h"
#include "core/settings/size_table.h"
#include "tests/support/test_files.h"

namespace torvane {
namespace {

using Names = std::vector<std::string>;

class ProgramFiles : public ::testing::Test {
 protected:
  test::TempDir tmp_;
  const std::string dir_ = tmp_.path() + "/";
  ProgramFolder folder_{tmp_.path()};
};

TEST_F(ProgramFiles, ServerProfilesLookedUpSavedReadAndNamed) {
  test::write_file(dir_ + "Servers.ini", "[ServerData]\ndl.h.com=x.ini\nh.com=S\\h.ini\n");
  EXPECT_EQ(find_server_profile(folder_, "http://DL.H.com/f.zip"), dir_ + "x.ini");
  EXPECT_EQ(find_server_profile(folder_, "http://www.h.com/f"), dir_ + "S/h.ini");  // the domain
  EXPECT_EQ(default_server_profile(folder_), dir_ + "Servers/default.ini");
  // A line break or a non-key in any row or the name: nothing written.
  EXPECT_EQ(write_server_profile(folder_, "b", "b", {{"Retry", "1"}, {"Proxy", "p\r\n[X]"}}) +
                write_server_profile(folder_, "b", "b", {{"Bad=Key", "1"}}) +
                write_server_profile(folder_, "b\nc", "b", {}),
            -3);
  const std::vector<ProfileRow> written{
      {"Referrer", "r"}, {"Retry", "-1"}, {"AutoReferrer", "0"}, {"Div", "4"}, {"urljump", "0"}};
  ASSERT_EQ(write_server_profile(folder_, kNewProfileName, kNewProfileFile, written), 0);
  EXPECT_EQ(test::read_file(dir_ + "Servers/newsv.ini"),
            "[TVNBASICDATA]\nReferrer=r\nRetry=-1\nAutoReferrer=0\nDiv=4\nurljump=0\n");
  ASSERT_EQ(rename_server_entry(folder_, 2, "", "f"), 0);  // the new entry
  std::vector<ProfileRow> rows;
  std::string file;
  ASSERT_EQ(read_server_profile(folder_, "f", rows, file), 0);
  // The stored file name, then the rows in the dialog's order; -1, urljump other than 1
  // and an AutoReferrer beside a Referrer are left out.
  Names keys{file};
  for (const ProfileRow& r : rows) keys.push_back(r.key + "=" + r.value);
  EXPECT_EQ(keys, (Names{"Servers/newsv.ini", "Div=4", "Referrer=r"}));
  EXPECT_EQ(list_server_profiles(folder_), (Names{"default", "dl.h.com", "h.com", "f"}));
  // Saving the default file adds no entry; an entry named "default" is used.
  ASSERT_EQ(write_server_profile(folder_, "default", "Servers\\default.ini", {{"Retry", "9"}}), 0);
  EXPECT_EQ(list_server_profiles(folder_).size(), 4u);
  ASSERT_EQ(write_server_profile(folder_, "default", "Servers/mine.ini", {}), 0);
  EXPECT_EQ(default_server_profile(folder_), dir_ + "Servers/mine.ini");
}

// What the editors let through is what a save stores: a refused row or
// target would make the whole save fail.
TEST(ProfileEditorChecks, RowsAndTargetsTheSaveCanStore) {
  struct Row {
    std::string_view key, value;
    bool allowed;
  };
  const Row rows[] = {{"My Key", "a=b", true}, {"  ", "1", false},       {"A=B", "1", false},
                      {"[X]", "1", false},     {"Retry", "1\n2", false}, {"Re\ntry", "1", false}};
  for (const Row& r : rows) EXPECT_EQ(profile_row_allowed(r.key, r.value), r.allowed) << r.key;
  struct Target {
    std::string_view name, file;
    bool allowed;
  };
  const Target targets[] = {{"h.com", "Servers\\h.ini", true},
                            {"a=b", "h.ini", false},
                            {"h.com", "Servers\\", false},
                            {"h.com", "h\r.ini", false}};
  for (const Target& t : targets)
    EXPECT_EQ(profile_target_allowed(t.name, t.file), t.allowed) << t.name << " " << t.file;
}

TEST_F(ProgramFiles, SizeTableRangesLookupAndEditor) {
  // "%lld-" when hi is 0, a missing part is 0, digits saturate; a negative bound is a large one.
  EXPECT_EQ(format_range(parse_range("99999999999")), "99999999999-");
  EXPECT_EQ(format_range(parse_range("1-99999999999999999999")), "1-9223372036854775807");
  EXPECT_FALSE(range_matches({-1, 0}, 5ull << 30));
  const IniAccess ini(dir_ + "Torvane.ini");
  test::write_file(dir_ + "Torvane.ini",
                   "[Divide]\n0-100=-1\n50-200=3\n4294967296-6442450944=5\n0-=7\n");
  // A -1 row is passed over, both bounds count, size 0 is no size; rows
  // past 4 GiB see the whole size.
  for (const auto& [size, count] : {std::pair{50ull, 3},
                                    {200ull, 3},
                                    {(1ull << 32) - 1, 7},
                                    {1ull << 32, 5},
                                    {6ull << 30, 5},
                                    {(6ull << 30) + 1, 7}})
    EXPECT_EQ(divisions_for_size(ini, size), count) << size;
  EXPECT_EQ(divisions_for_size(ini, 0), std::nullopt);
  // The editor: rows read as stored, edited, written back in order.
  test::write_file(dir_ + "Torvane.ini", "[Divide]\n0-100=2\nnoise=x\n");
  std::vector<SizeRow> rows = read_size_table(ini);
  SizeRow& added = rows.emplace_back(SizeRow{"0-", 1});
  EXPECT_EQ(apply_range_edit(added, "300", 1), 1);  // only the range changed
  EXPECT_EQ(apply_range_edit(added, "300-0", 1), 0);
  EXPECT_EQ(apply_range_edit(added, "300-0", -1), 1);
  rows.push_back(SizeRow{"0-100", 5});  // same range as the first row: its count wins
  ASSERT_EQ(write_size_table(ini, rows), 1);
  EXPECT_EQ(write_size_table(ini, {SizeRow{"1-2\n[SETTING]", 1}}), 0);
  EXPECT_EQ(test::read_file(dir_ + "Torvane.ini"), "[Divide]\n0-100=5\nnoise=0\n300-=-1\n");
}

}  // namespace
}  // namespace torvane
