// Session, power and dial-up services of the machine, reached over the system
// D-Bus: the login manager (org.freedesktop.login1) ends the session, powers
// off, reboots, suspends and hibernates; the network manager
// (org.freedesktop.NetworkManager) takes dial-up connections down.
//
// Every request is made with interactive = false: the program runs unattended
// when it shuts down, so no authentication prompt may appear; what the caller
// is not allowed to do fails. Each call opens its own bus connection and is
// bounded by the bus library's method-call time-out (25 s unless
// $SYSTEMD_BUS_TIMEOUT says otherwise).
#pragma once

namespace torvane::platform {

class DbusPower {
 public:
  // Ends the login session this process belongs to (the one logind finds
  // for the caller, else the one named by $XDG_SESSION_ID). 0 or -1.
  int log_off();
  // 0 when the login manager accepted the request, -1 otherwise. Active
  // inhibitors are handled by the login manager's own policy.
  int power_off();
  int reboot();
  int suspend();
  int hibernate();

  // Deactivates every active network-manager connection of a dial-up kind
  // (mobile broadband "gsm" and "cdma", "pppoe", "adsl", and "bluetooth"
  // phone tethers) and waits, at most kHangUpWaitMs each, until it is gone.
  // 1 when every one went down or none was up (a network manager that is not
  // running has none up); 0 when a request failed, a connection stayed up,
  // or the system bus cannot be reached.
  int hang_up_dialup();

  static constexpr int kHangUpWaitMs = 10000;
};

}  // namespace torvane::platform
