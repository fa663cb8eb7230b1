#include "core/settings/program_home.h"

#include <string>

#include "platform/file.h"
#include "platform/process.h"

namespace torvane {
namespace {

std::string environment_text(const char* name) {
  const char* value = platform::environment(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

ProgramFolder choose_program_folder(std::string_view override_folder) {
  if (!override_folder.empty()) return ProgramFolder(override_folder);
  if (const std::string home = environment_text("TORVANE_HOME"); !home.empty())
    return ProgramFolder(home);
  ProgramFolder beside = ProgramFolder::of_program_file(platform::program_file_path());
  if (platform::folder_writable(beside.dir().c_str())) return beside;
  std::string base = environment_text("XDG_CONFIG_HOME");
  if (base.empty()) base = environment_text("HOME") + "/.config";
  platform::make_folder(base.c_str());  // either may exist already
  platform::make_folder((base + "/torvane").c_str());
  return ProgramFolder(base + "/torvane");
}

}  // namespace torvane
