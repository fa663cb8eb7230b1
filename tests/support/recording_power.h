// A power backend for tests: records every request in order ("log off",
// "power off", "reboot", "shut down", "suspend", "hibernate", "hang up"; a
// forced one ends in "!") and answers with results the test sets.
#pragma once

#include <string>
#include <vector>

#include "core/system/power.h"

namespace torvane {

class RecordingPower final : public PowerBackend {
 public:
  int exit_result = 0, state_result = 0, hang_up_result = 1;
  std::vector<std::string> calls;

  int exit_session(Action action, bool force) override {
    static const char* const kNames[] = {"log off", "power off", "reboot", "shut down"};
    return record(kNames[static_cast<int>(action)], force, exit_result);
  }
  int set_power_state(bool suspend, bool force) override {
    return record(suspend ? "suspend" : "hibernate", force, state_result);
  }
  int hang_up_dialup() override { return record("hang up", false, hang_up_result); }

 private:
  int record(std::string call, bool force, int result) {
    calls.push_back(call + (force ? "!" : ""));
    return result;
  }
};

}  // namespace torvane
