// The machine's power and session services the automatic shutdown uses:
// ending the session (log off, power off, restart, shut down), suspend and
// hibernate, and hanging up dial-up (modem, PPP, mobile) connections.
//
// Implementations: the system services over D-Bus, a dry run that prints
// what it would do, and a recorder for tests. The core never calls a system
// service except through this interface.
#pragma once

namespace torvane {

class PowerBackend {
 public:
  enum class Action { kLogOff, kPowerOff, kReboot, kShutDown };

  virtual ~PowerBackend() = default;
  // Ends the session or the system. 0 started, -1 failed.
  virtual int exit_session(Action action, bool force) = 0;
  // Suspend (true) or hibernate (false). 0 started, -1 failed.
  virtual int set_power_state(bool suspend, bool force) = 0;
  // Hangs up every dial-up connection. 1 every one is down (or none was
  // up), 0 a hang-up failed.
  virtual int hang_up_dialup() = 0;
};

}  // namespace torvane
