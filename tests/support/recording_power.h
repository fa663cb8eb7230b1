// A power backend for tests: records every request in order and answers
// with results the test sets. It never reaches a system service.
#pragma once

#include <vector>

#include "gui/extras/power.h"

namespace torvane {

class RecordingPower final : public PowerBackend {
 public:
  enum class Kind { kExitSession, kSetPowerState, kHangUp };

  struct Call {
    Kind kind;
    Action action = Action::kLogOff;  // exit_session only
    bool suspend = false;             // set_power_state only
    bool force = false;
    bool operator==(const Call&) const = default;
  };

  int exit_session_result = 0;
  int set_power_state_result = 0;
  int hang_up_result = 1;
  std::vector<Call> calls;

  int exit_session(Action action, bool force) override {
    calls.push_back({Kind::kExitSession, action, false, force});
    return exit_session_result;
  }
  int set_power_state(bool suspend, bool force) override {
    calls.push_back({Kind::kSetPowerState, Action::kLogOff, suspend, force});
    return set_power_state_result;
  }
  int hang_up_dialup() override {
    calls.push_back({Kind::kHangUp});
    return hang_up_result;
  }
};

}  // namespace torvane
