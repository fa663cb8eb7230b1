// The automatic shutdown against a recording backend, and the dry run's lines.
#include "gui/extras/shutdown.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gui/extras/power_dry_run.h"
#include "gui/shell/settings.h"
#include "tests/support/recording_power.h"

namespace torvane {
namespace {

using Action = PowerBackend::Action;
using Call = RecordingPower::Call;
using Kind = RecordingPower::Kind;

Call exit_call(Action action, bool force = false) {
  return {Kind::kExitSession, action, false, force};
}
Call state_call(bool suspend, bool force = false) {
  return {Kind::kSetPowerState, Action::kLogOff, suspend, force};
}
const Call kHangUpCall{Kind::kHangUp};

TEST(Shutdown, TwoTriggersInOneRun) {
  struct Case {
    const char* name;
    int bits;
    int exit_result;
    int hang_up_result;
    int state_result;
    int first;   // result of the first trigger
    int second;  // and of a second one in the same run
    std::vector<Call> calls;
    bool marked;
  } cases[] = {
      // clang-format off
      // No method stored (the dialog would show power off; that is its own
      // business): nothing to run.
      {"no method", 0, 0, 1, 0, -1, -1, {}, false},
      {"power off once", kShutdownPowerOff, 0, 1, 0, 0, 0, {exit_call(Action::kPowerOff)}, true},
      {"failed attempt not retried", kShutdownPowerOff, -1, 1, 0, -1, 0,
       {exit_call(Action::kPowerOff)}, true},
      {"log off before reboot", kShutdownLogOff | kShutdownReboot, 0, 1, 0, 0, 0,
       {exit_call(Action::kLogOff)}, true},
      {"session end before suspend", kShutdownSuspend | kShutdownShutDown, 0, 1, 0, 0, 0,
       {exit_call(Action::kShutDown)}, true},
      {"suspend repeats", kShutdownSuspend, 0, 1, 0, 0, 0, {state_call(true), state_call(true)},
       false},
      {"hibernate fails", kShutdownHibernate, 0, 1, -1, -1, -1,
       {state_call(false), state_call(false)}, false},
      {"hang up only", kShutdownHangUp | kShutdownNone, 0, 1, 0, 0, 0, {kHangUpCall, kHangUpCall},
       false},
      {"hang-up failure stops", kShutdownHangUp | kShutdownPowerOff, 0, 0, 0, -1, -1,
       {kHangUpCall, kHangUpCall}, false},
      {"hang up, then one session end", kShutdownHangUp | kShutdownReboot, 0, 1, 0, 0, 0,
       {kHangUpCall, exit_call(Action::kReboot), kHangUpCall}, true},
      {"forced session end", kShutdownForce | kShutdownShutDown, 0, 1, 0, 0, 0,
       {exit_call(Action::kShutDown, true)}, true},
      {"forced hibernate", kShutdownForce | kShutdownHibernate, 0, 1, 0, 0, 0,
       {state_call(false, true), state_call(false, true)}, false},
      {"already started", kShutdownStartedMark | kShutdownLogOff, 0, 1, 0, 0, 0, {}, true},
      // clang-format on
  };
  for (const Case& c : cases) {
    RecordingPower power;
    power.exit_session_result = c.exit_result;
    power.hang_up_result = c.hang_up_result;
    power.set_power_state_result = c.state_result;
    int how_to_sd = c.bits;
    EXPECT_EQ(perform_shutdown(how_to_sd, power), c.first) << c.name;
    EXPECT_EQ(perform_shutdown(how_to_sd, power), c.second) << c.name;
    EXPECT_EQ(power.calls, c.calls) << c.name;
    EXPECT_EQ((how_to_sd & kShutdownStartedMark) != 0, c.marked) << c.name;
    EXPECT_EQ(how_to_sd & ~kShutdownStartedMark, c.bits & ~kShutdownStartedMark) << c.name;
  }
}

TEST(Shutdown, DryRunSaysWhatItWouldDo) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  DryRunPower power(out);
  EXPECT_EQ(power.exit_session(Action::kLogOff, false), 0);
  EXPECT_EQ(power.exit_session(Action::kPowerOff, true), 0);
  EXPECT_EQ(power.exit_session(Action::kReboot, false), 0);
  EXPECT_EQ(power.exit_session(Action::kShutDown, false), 0);
  EXPECT_EQ(power.set_power_state(true, false), 0);
  EXPECT_EQ(power.set_power_state(false, true), 0);
  EXPECT_EQ(power.hang_up_dialup(), 1);
  std::rewind(out);
  std::string text(512, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_EQ(text,
            "dry-run: log off\n"
            "dry-run: power off (forced)\n"
            "dry-run: reboot\n"
            "dry-run: shut down\n"
            "dry-run: suspend\n"
            "dry-run: hibernate (forced)\n"
            "dry-run: hang up dial-up connections\n");
}

}  // namespace
}  // namespace torvane
