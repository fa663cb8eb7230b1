// The program settings: the [SETTING] and [SDTIME] values held for the whole
// run, read once after the engine is bound and written once after the main
// loop. The dialogs change the record in memory in between.
//
// Keys, defaults and order follow the program INI layout; see read_settings
// and write_settings for the exact rules. The record is plain data; whoever
// owns it (the shell) guards it with the core's lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/settings/ini_access.h"
#include "core/system/clock.h"

namespace torvane {

inline constexpr std::string_view kSettingSection = "SETTING";
inline constexpr std::string_view kShutdownTimeSection = "SDTIME";
inline constexpr int kDefaultMaxDlFiles = 15;
inline constexpr std::size_t kTemplateTextSize = 512;  // 511 characters and the NUL
// HowtoSD bit that marks a shutdown started in this run; it is never stored.
inline constexpr int kShutdownStartedMark = 0x100;
// The settings dialog's range for the engine threads' pause, in ms.
inline constexpr int kMinThreadWait = 1;
inline constexpr int kMaxThreadWait = 1001;

struct ProgramSettings {
  // The worker pause last set in the settings dialog. It is not handed to the
  // engine at start-up (the engine starts with its 20 ms); it reaches the
  // engine only when the dialog changes it, so a stored value cannot slow a
  // fresh start unexpectedly.
  int thread_wait = 0;
  int bps = 0;
  int list_busy = 0;
  int log_view = 0;
  int log_height = 0;
  int max_dl_files = 0;
  int write_log = 0;
  int strict_dl_info = 0;
  int save_to_dir = 0;
  int exist_file = 0;
  std::optional<std::string> other_name;  // absent: the key is left as it is in the file
  int on_ignore_err = 0;
  std::optional<std::string> renane;  // the key is spelled "Renane"
  int rn_ignore_err = 0;
  int shut_down = 0;
  int how_to_sd = 0;
  // Year, Month, Day, Hour, Minute, Second are used; 9999 matches any value.
  LocalTime shutdown_time{};
};

// MaxDLFiles, read at start-up before the engine is bound: 15 when absent;
// a stored value is brought into 1 to 999 (0 or less reads as 15, more than
// 999 as 999), and then `note`, when given, says which value is used.
inline constexpr int kMaxMaxDlFiles = 999;
int read_max_dl_files(const IniAccess& ini, std::string* note = nullptr);
// Written by the main window on close. 1 when written (as IniAccess::write_int).
int write_max_dl_files(const IniAccess& ini, int max_dl_files);

// The pause the settings dialog opens at: ThreadWait when it is set (above
// 0), else the engine's pause in force (`engine_wait_ms`), which the dialog
// then stores as ThreadWait.
int opening_thread_wait(int thread_wait, int engine_wait_ms);

// Fills every field but max_dl_files and list_busy from the program INI.
void read_settings(const IniAccess& ini, ProgramSettings& settings);

// Writes the same keys in the same order. OtherName and Renane only when set;
// HowtoSD without the run-time mark; the SDTIME fields as 16-bit unsigned
// values. Returns 0 when every write succeeded, else -1 (the writes go on).
int write_settings(const IniAccess& ini, const ProgramSettings& settings);

}  // namespace torvane
