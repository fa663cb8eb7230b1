// Where the program keeps its settings, server profiles and engine library:
// the program folder, chosen once at start-up.
#pragma once

#include <string_view>

#include "core/settings/ini_access.h"

namespace torvane {

// The program folder, in this order: `override_folder` when not empty (a
// command-line choice), else the environment's TORVANE_HOME when set and not
// empty, else the folder of the running program file. A program folder the
// user may not write to (an installed program) gives way to
// $XDG_CONFIG_HOME/torvane, or ~/.config/torvane without XDG_CONFIG_HOME;
// those folders are made when missing. An override is taken as it is, even
// when it cannot be written.
ProgramFolder choose_program_folder(std::string_view override_folder = {});

}  // namespace torvane
