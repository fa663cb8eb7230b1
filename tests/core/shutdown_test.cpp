// The automatic shutdown against a recording backend, and the dry run's lines.
#include "core/settings/shutdown.h"

#include <gtest/gtest.h>

#include "core/settings/settings.h"
#include "core/system/power_dry_run.h"
#include "tests/support/recording_power.h"

namespace torvane {
namespace {

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
    power.exit_result = c.exit_result;
    power.hang_up_result = c.hang_up_result;
    power.state_result = c.state_result;
    int how_to_sd = c.bits;
    EXPECT_EQ(perform_shutdown(how_to_sd, power), c.first);
    EXPECT_EQ(perform_shutdown(how_to_sd, power), c.second);
    EXPECT_EQ(power.calls, c.calls);
    EXPECT_EQ(how_to_sd, c.bits | (c.marked ? kShutdownStartedMark : 0));
  }
}

TEST(Shutdown, DryRunSaysWhatItWouldDo) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  ASSERT_NE(out, nullptr);
  DryRunPower power(out);
  using enum PowerBackend::Action;
  for (auto action : {kLogOff, kPowerOff, kReboot, kShutDown}) {
    EXPECT_EQ(power.exit_session(action, action == kPowerOff), 0);
  }
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

}  // namespace
}  // namespace torvane
