// Reading and writing the program settings.
#include "core/settings/settings.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace torvane {
namespace {

std::optional<std::string> read_template(const IniAccess& ini, std::string_view key) {
  std::string text;
  ini.read_text(kSettingSection, key, text, kTemplateTextSize);
  // Without a program INI the text stays empty, which also means "not set".
  if (text.empty() && !ini.has_path()) return std::nullopt;
  if (text == kAbsentText) return std::nullopt;
  return text;
}

std::uint16_t read_u16(const IniAccess& ini, std::string_view key) {
  return static_cast<std::uint16_t>(ini.read_int(kShutdownTimeSection, key, 0));
}

}  // namespace

int opening_thread_wait(int thread_wait, int engine_wait_ms) {
  return thread_wait > 0 ? thread_wait : engine_wait_ms;
}

int read_max_dl_files(const IniAccess& ini, std::string* note) {
  // The least int stands for "absent", so that a stored -1 is out of range
  // rather than silently the default.
  const int n = ini.read_int(kSettingSection, "MaxDLFiles", INT_MIN);
  if (n == INT_MIN || !ini.has_path()) return kDefaultMaxDlFiles;
  // Every slot is a record the engine allocates up front: a limit in the
  // billions keeps the engine from starting at all.
  const int used = n <= 0 ? kDefaultMaxDlFiles : std::min(n, kMaxMaxDlFiles);
  if (used != n && note != nullptr) {
    *note = "MaxDLFiles=" + std::to_string(n) + " is out of range (1 to " +
            std::to_string(kMaxMaxDlFiles) + "); " + std::to_string(used) + " is used";
  }
  return used;
}

int write_max_dl_files(const IniAccess& ini, int max_dl_files) {
  return ini.write_int(kSettingSection, "MaxDLFiles", max_dl_files);
}

void read_settings(const IniAccess& ini, ProgramSettings& s) {
  s.thread_wait = ini.read_int(kSettingSection, "ThreadWait", 0);
  s.log_view = ini.read_int(kSettingSection, "LogView", 2);
  s.log_height = ini.read_int(kSettingSection, "LogHeight", 150);
  s.bps = ini.read_int(kSettingSection, "Bps", 0);
  s.write_log = ini.read_int(kSettingSection, "WriteLog", 0);
  s.strict_dl_info = ini.read_int(kSettingSection, "StrictDLInfo", 1);
  s.save_to_dir = ini.read_int(kSettingSection, "SaveToDir", 0);
  s.exist_file = ini.read_int(kSettingSection, "ExistFile", 0);
  s.other_name = read_template(ini, "OtherName");
  s.on_ignore_err = ini.read_int(kSettingSection, "ONIgnoreErr", 0);
  s.renane = read_template(ini, "Renane");
  s.rn_ignore_err = ini.read_int(kSettingSection, "RNIgnoreErr", 0);
  s.shut_down = ini.read_int(kSettingSection, "ShutDown", 0);
  s.how_to_sd = ini.read_int(kSettingSection, "HowtoSD", 0);
  s.shutdown_time.year = read_u16(ini, "Year");
  s.shutdown_time.month = read_u16(ini, "Month");
  s.shutdown_time.day = read_u16(ini, "Day");
  s.shutdown_time.hour = read_u16(ini, "Hour");
  s.shutdown_time.minute = read_u16(ini, "Minute");
  s.shutdown_time.second = read_u16(ini, "Second");
}

int write_settings(const IniAccess& ini, const ProgramSettings& s) {
  bool ok = true;
  auto put = [&](std::string_view section, std::string_view key, int value) {
    ok = ini.write_int(section, key, value) != 0 && ok;
  };
  put(kSettingSection, "ThreadWait", s.thread_wait);
  put(kSettingSection, "LogView", s.log_view);
  put(kSettingSection, "LogHeight", s.log_height);
  put(kSettingSection, "Bps", s.bps);
  put(kSettingSection, "WriteLog", s.write_log);
  put(kSettingSection, "StrictDLInfo", s.strict_dl_info);
  put(kSettingSection, "SaveToDir", s.save_to_dir);
  put(kSettingSection, "ExistFile", s.exist_file);
  if (s.other_name) ok = ini.write_text(kSettingSection, "OtherName", *s.other_name) != 0 && ok;
  put(kSettingSection, "ONIgnoreErr", s.on_ignore_err);
  if (s.renane) ok = ini.write_text(kSettingSection, "Renane", *s.renane) != 0 && ok;
  put(kSettingSection, "RNIgnoreErr", s.rn_ignore_err);
  put(kSettingSection, "ShutDown", s.shut_down);
  put(kSettingSection, "HowtoSD", s.how_to_sd & ~kShutdownStartedMark);
  put(kShutdownTimeSection, "Year", s.shutdown_time.year);
  put(kShutdownTimeSection, "Month", s.shutdown_time.month);
  put(kShutdownTimeSection, "Day", s.shutdown_time.day);
  put(kShutdownTimeSection, "Hour", s.shutdown_time.hour);
  put(kShutdownTimeSection, "Minute", s.shutdown_time.minute);
  put(kShutdownTimeSection, "Second", s.shutdown_time.second);
  return ok ? 0 : -1;
}

}  // namespace torvane
