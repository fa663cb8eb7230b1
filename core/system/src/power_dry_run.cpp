#include "core/system/power_dry_run.h"

namespace torvane {

int DryRunPower::exit_session(Action action, bool force) {
  const char* what = "shut down";
  switch (action) {
    case Action::kLogOff:
      what = "log off";
      break;
    case Action::kPowerOff:
      what = "power off";
      break;
    case Action::kReboot:
      what = "reboot";
      break;
    case Action::kShutDown:
      break;
  }
  say(what, force);
  return 0;
}

int DryRunPower::set_power_state(bool suspend, bool force) {
  say(suspend ? "suspend" : "hibernate", force);
  return 0;
}

int DryRunPower::hang_up_dialup() {
  say("hang up dial-up connections", false);
  return 1;
}

void DryRunPower::say(const char* what, bool force) {
  std::fprintf(out_, "dry-run: %s%s\n", what, force ? " (forced)" : "");
  // The machine would be going down now; what was said must not wait in a buffer.
  std::fflush(out_);
}

}  // namespace torvane
