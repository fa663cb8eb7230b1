#include "core/settings/shutdown.h"

#include <string_view>

#include "core/settings/settings.h"
#include "core/system/power_dry_run.h"
#include "platform/power_dbus.h"
#include "platform/process.h"

namespace torvane {
namespace {

using Action = PowerBackend::Action;

// The system's login and network managers. The force flag adds nothing
// here: the login manager ends a session's processes itself, so no program
// can hold the end back the way an application could refuse to close, and
// whether inhibitors block a power-off is the login manager's own policy.
// "Shut down" is a power-off too: this platform has no halt that leaves the
// machine running for the user to switch off that anyone would want.
class SystemPower final : public PowerBackend {
 public:
  int exit_session(Action action, bool /*force*/) override {
    switch (action) {
      case Action::kLogOff:
        return dbus_.log_off();
      case Action::kPowerOff:
      case Action::kShutDown:
        return dbus_.power_off();
      case Action::kReboot:
        return dbus_.reboot();
    }
    return -1;
  }
  int set_power_state(bool suspend, bool /*force*/) override {
    return suspend ? dbus_.suspend() : dbus_.hibernate();
  }
  int hang_up_dialup() override { return dbus_.hang_up_dialup(); }

 private:
  platform::DbusPower dbus_;
};

struct SessionMethod {
  int bit;
  Action action;
};

// In priority order: with several method bits set, the first one wins.
constexpr SessionMethod kSessionMethods[] = {
    {kShutdownLogOff, Action::kLogOff},
    {kShutdownPowerOff, Action::kPowerOff},
    {kShutdownReboot, Action::kReboot},
    {kShutdownShutDown, Action::kShutDown},
};

}  // namespace

int perform_shutdown(int& how_to_sd, PowerBackend& power) {
  if ((how_to_sd & kShutdownHangUp) != 0 && hang_up_dialup(power) == 0) return -1;
  const bool force = (how_to_sd & kShutdownForce) != 0;
  for (const SessionMethod& method : kSessionMethods) {
    if ((how_to_sd & method.bit) == 0) continue;
    // One attempt per run: a failed one is not retried by the next trigger,
    // so a refusal does not turn into a message box every second.
    if ((how_to_sd & kShutdownStartedMark) != 0) return 0;
    how_to_sd |= kShutdownStartedMark;
    return exit_windows(power, method.action, force);
  }
  if ((how_to_sd & kShutdownSuspend) != 0) return power.set_power_state(true, force) == 0 ? 0 : -1;
  if ((how_to_sd & kShutdownHibernate) != 0)
    return power.set_power_state(false, force) == 0 ? 0 : -1;
  if ((how_to_sd & kShutdownNone) != 0) return 0;
  return -1;
}

int hang_up_dialup(PowerBackend& power) {
  return power.hang_up_dialup() != 0 ? 1 : 0;
}

int exit_windows(PowerBackend& power, Action action, bool force) {
  return power.exit_session(action, force) == 0 ? 0 : -1;
}

std::unique_ptr<PowerBackend> make_power_backend() {
  const char* mode = platform::environment("TORVANE_POWER");
  if (mode != nullptr && std::string_view(mode) == "dry-run")
    return std::make_unique<DryRunPower>();
  return std::make_unique<SystemPower>();
}

}  // namespace torvane
