// The INI reader and writer, the access layer over it, the program settings,
// and the automatic shutdown against a recording backend and the dry run.
#include "platform/ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/settings/ini_access.h"
#include "core/settings/settings.h"
#include "core/settings/shutdown.h"
#include "core/system/power_dry_run.h"
#include "tests/support/recording_power.h"
#include "tests/support/test_files.h"

namespace torvane {

using namespace std::string_literals;

constexpr const char* kSample =
    "; settings of the test\r\n[Setting]\r\nmaxdlfiles = 7 \r\nQuoted=\"  spaced value  \"\r\n"
    "# not a key=1\r\nDup=first\r\nDup=second\r\n\r\n[Other]\r\nKey=other\r\n";

class Ini : public ::testing::Test {
 protected:
  void SetUp() override { test::write_file(path_, kSample); }
  // The value, "--" when absent.
  std::string get(const char* section, const char* key) {
    return platform::ini_get(path_.c_str(), section, key, value_) ? value_ : "--";
  }
  int put(const std::string& section, const std::string& key, const std::string& value) {
    return platform::ini_write_string(path_.c_str(), section, key, value);
  }
  test::TempDir tmp_;
  const std::string path_ = tmp_ / "a.ini";
  std::string value_;
};

TEST_F(Ini, ReadsFollowTheProfileRulesAndWritesEditInPlace) {
  EXPECT_EQ(get("SETTING", "MaxDLFiles"), "7");  // any case, blanks trimmed
  EXPECT_EQ(get("setting", "quoted"), "  spaced value  ");
  EXPECT_EQ(get("Setting", "Dup"), "first");
  EXPECT_EQ(get("Setting", "# not a key"), "--");
  EXPECT_EQ(read_ini_int(path_.c_str(), "Setting", "Dup", -1), 0);  // not a number
  // Refused, the file untouched: what would break a line, or is no key name.
  for (const std::string& bad : {"a\r\n[Evil]"s, "a\0b"s, "a=b"s, "[x]"s, ";c"s, ""s})
    EXPECT_EQ(put("Setting", bad, "v") + put(bad, "k", "v"), 0) << bad;
  EXPECT_EQ(put("Setting", "URL_0", "a\r\n[Evil]") + put("Setting", "URL_0", "a\0b"s), 0);
  const auto rw = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  std::filesystem::permissions(path_, rw);
  EXPECT_EQ(put("SETTING", "MAXDLFILES", "9") + put("setting", "NewKey", "n"), 2);
  EXPECT_EQ(put("Third", "k", "v"), 1);
  EXPECT_EQ(test::read_file(path_),
            "; settings of the test\r\n[Setting]\r\nmaxdlfiles=9\r\nQuoted=\"  spaced value  \"\r\n"
            "# not a key=1\r\nDup=first\r\nDup=second\r\nNewKey=n\r\n\r\n[Other]\r\nKey=other\r\n"
            "\r\n[Third]\r\nk=v\r\n");
  // Replaced whole through a temporary file (none left), the mode kept.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp_.path()), {}), 1);
  EXPECT_TRUE(std::filesystem::status(path_).permissions() == rw);
}

TEST_F(Ini, DeleteKeyTakesOnlyTheExactNameAcrossALongSection) {
  const std::string text = "[S]\nAK=keep\nfiller=" + std::string(9000, 'x') + "\nk=case differs\n";
  test::write_file(path_, text + "K=gone\nlast=after the limit\n");
  EXPECT_EQ(IniAccess(path_).delete_key("S", "K"), 1);
  EXPECT_EQ(test::read_file(path_), text + "last=after the limit\n");
}

TEST_F(Ini, SettingsRoundTripKeepsAbsentTemplatesAbsent) {
  const IniAccess ini(path_);
  EXPECT_EQ(read_max_dl_files(ini), 7);
  test::write_file(path_, "; x\n[SETTING]\nMaxDLFiles=0\nOtherName=--\n[SDTIME]\nMonth=-1\n");
  EXPECT_EQ(read_max_dl_files(ini), 15);  // zero or below: the default
  ProgramSettings s;
  read_settings(ini, s);
  EXPECT_FALSE(s.other_name || s.renane);  // "--" means absent, as a missing key does
  s.how_to_sd = 3 | kShutdownStartedMark;  // a shutdown ran in this session: not stored
  s.other_name = "$f(2).$e";
  ASSERT_EQ(write_settings(ini, s), 0);
  const std::string text = *test::read_file(path_);
  EXPECT_EQ(text.find("Renane"), std::string::npos);
  for (const char* line : {"; x\n", "OtherName=$f(2).$e\n", "HowtoSD=3\n", "Month=65535\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;  // Month held as 16 bits
}

TEST(Shutdown, TwoTriggersInOneRun) {
  const struct {
    // The backend's answers to exit_session, hang_up_dialup and
    // set_power_state; what the two triggers return.
    int bits, exit_result, hang_up_result, state_result, first, second;
    std::vector<std::string> calls;
    bool marked;
  } cases[] = {
      // clang-format off
      {0, 0, 1, 0, -1, -1, {}, false},  // no method: nothing to run
      {kShutdownPowerOff, 0, 1, 0, 0, 0, {"power off"}, true},
      {kShutdownPowerOff, -1, 1, 0, -1, 0, {"power off"}, true},  // a failed attempt is not retried
      {kShutdownSuspend, 0, 1, 0, 0, 0, {"suspend", "suspend"}, false},
      {kShutdownHangUp | kShutdownNone, 0, 1, 0, 0, 0, {"hang up", "hang up"}, false},
      {kShutdownHangUp | kShutdownPowerOff, 0, 0, 0, -1, -1, {"hang up", "hang up"}, false},
      {kShutdownHangUp | kShutdownReboot, 0, 1, 0, 0, 0, {"hang up", "reboot", "hang up"}, true},
      {kShutdownForce | kShutdownHibernate, 0, 1, -1, -1, -1, {"hibernate!", "hibernate!"}, false},
      {kShutdownStartedMark | kShutdownLogOff, 0, 1, 0, 0, 0, {}, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);  // the row
    RecordingPower power;
    power.exit_result = c.exit_result, power.hang_up_result = c.hang_up_result;
    power.state_result = c.state_result;
    int how_to_sd = c.bits;
    const int first = perform_shutdown(how_to_sd, power);
    const int second = perform_shutdown(how_to_sd, power);
    EXPECT_EQ(
        std::tuple(first, second, power.calls, how_to_sd),
        std::tuple(c.first, c.second, c.calls, c.bits | (c.marked ? kShutdownStartedMark : 0)));
  }
}

TEST(Shutdown, DryRunSaysWhatItWouldDo) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  ASSERT_NE(out, nullptr);
  DryRunPower power(out);
  using enum PowerBackend::Action;
  for (auto action : {kLogOff, kPowerOff, kReboot, kShutDown})
    EXPECT_EQ(power.exit_session(action, action == kPowerOff), 0);
  EXPECT_EQ(power.set_power_state(true, false), 0);
  EXPECT_EQ(power.set_power_state(false, true), 0);
  EXPECT_EQ(power.hang_up_dialup(), 1);
  std::fclose(out);
  EXPECT_STREQ(text,
               "dry-run: log off\ndry-run: power off (forced)\ndry-run: reboot\n"
               "dry-run: shut down\ndry-run: suspend\ndry-run: hibernate (forced)\n"
               "dry-run: hang up dial-up connections\n");
  std::free(text);
}

}  // namespace torvane
