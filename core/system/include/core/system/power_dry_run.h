// A power backend that acts on nothing: each request is a line on the given
// stream ("dry-run: power off (forced)") and is reported as done. It lets the
// shutdown be tried on a machine that must stay up.
#pragma once

#include <cstdio>

#include "core/system/power.h"

namespace torvane {

class DryRunPower final : public PowerBackend {
 public:
  explicit DryRunPower(std::FILE* out = stdout) : out_(out) {}

  int exit_session(Action action, bool force) override;
  int set_power_state(bool suspend, bool force) override;
  int hang_up_dialup() override;

 private:
  void say(const char* what, bool force);

  std::FILE* out_;
};

}  // namespace torvane
