// Settings that cannot work, through the manager and the real engine: they
// are brought into range, said once, and the program works.
#include <string>

#include "core/settings/settings.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

using SettingsClampTest = ManagerTest;

// MaxDLFiles is brought into 1 to 999 with one message at start-up; a limit
// in the billions used to keep the engine from starting at all.
TEST_F(SettingsClampTest, MaxDlFilesIsBroughtIntoRangeOnceAtStartUp) {
  struct Row {
    std::string stored;
    int limit;
    bool said;
  } const rows[] = {{"", 15, false},
                    {"MaxDLFiles=20\n", 20, false},
                    {"MaxDLFiles=0\n", 15, true},
                    {"MaxDLFiles=-7\n", 15, true},
                    {"MaxDLFiles=2147483647\n", 999, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored);
    set_ini("[SETTING]\n" + row.stored);
    view_.messages.clear();
    auto manager = start(clock_, 0);
    EXPECT_EQ(manager->with_settings([](ProgramSettings& s) { return s.max_dl_files; }), row.limit);
    const std::vector<std::string> said = seen(*manager).messages;
    ASSERT_EQ(said.size(), row.said ? 1u : 0u);
    for (const std::string& text : said)
      EXPECT_NE(text.find(std::to_string(row.limit) + " is used"), text.npos);
    manager->end(5000);
  }
}

// A line of a megabyte neither breaks a read nor hides the keys after it;
// its value is cut between characters, never inside one.
TEST_F(SettingsClampTest, MegabyteIniLineIsCutAndTheKeysAfterItRead) {
  std::string long_value;
  while (long_value.size() < (1 << 20)) long_value += "\u3042";  // three bytes each
  set_ini("[SETTING]\nOtherName=" + long_value + "\nMaxDLFiles=7\nExistFile=2\n");
  auto manager = start(clock_, 0);
  const ProgramSettings s = manager->with_settings([](ProgramSettings& s) { return s; });
  EXPECT_EQ(s.max_dl_files, 7);
  EXPECT_EQ(s.exist_file, 2);
  ASSERT_TRUE(s.other_name.has_value());
  EXPECT_EQ(*s.other_name, long_value.substr(0, (kTemplateTextSize - 1) / 3 * 3));
  manager->end(5000);
}

}  // namespace
}  // namespace torvane::test
