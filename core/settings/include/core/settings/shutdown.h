// The automatic shutdown: what happens when the downloads are done or the set
// time has come, according to the HowtoSD bits of the program settings.
#pragma once

#include <memory>

#include "core/system/power.h"

namespace torvane {

// HowtoSD bits. The method bits are taken in the order listed here; the
// started mark (kShutdownStartedMark, 0x100) is kept in the same word.
inline constexpr int kShutdownLogOff = 0x1;
inline constexpr int kShutdownPowerOff = 0x2;
inline constexpr int kShutdownReboot = 0x4;
inline constexpr int kShutdownShutDown = 0x8;
inline constexpr int kShutdownSuspend = 0x10;
inline constexpr int kShutdownHibernate = 0x20;
inline constexpr int kShutdownForce = 0x40;
inline constexpr int kShutdownHangUp = 0x80;
inline constexpr int kShutdownNone = 0x200;

// Hangs up dial-up connections first when asked, then runs the method.
// Ending the session is attempted once per run: the first attempt sets the
// started mark in `how_to_sd`, and with the mark set later calls do nothing
// and return 0, even when the first attempt failed. Suspend and hibernate set
// no mark. 0 done or nothing to do, -1 failed (also when no method is set).
int perform_shutdown(int& how_to_sd, PowerBackend& power);

// 1 every dial-up connection is down (or none was up), 0 otherwise.
int hang_up_dialup(PowerBackend& power);

// Ends the session or the system. 0 started, -1 failed.
int exit_windows(PowerBackend& power, PowerBackend::Action action, bool force);

// The backend the program uses: a dry run that only prints what it would do
// when the environment variable TORVANE_POWER is "dry-run", else the
// system's login and network managers.
std::unique_ptr<PowerBackend> make_power_backend();

}  // namespace torvane
