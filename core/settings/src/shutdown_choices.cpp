#include "core/settings/shutdown_choices.h"

namespace torvane {
namespace {

constexpr int method_mask() {
  int mask = 0;
  for (const int bit : kShutdownMethodBits) mask |= bit;
  return mask;
}

// Power off is what an unset word falls back to, so OK on an untouched
// dialog stores a method.
constexpr int kDefaultMethodEntry = 1;

}  // namespace

int shutdown_trigger_entry(int shut_down) {
  return shut_down == 1 || shut_down == 2 ? shut_down : 0;
}

int shutdown_method_entry(int how_to_sd) {
  for (std::size_t i = 0; i < kShutdownMethodBits.size(); ++i) {
    if ((how_to_sd & kShutdownMethodBits[i]) != 0) return static_cast<int>(i);
  }
  return kDefaultMethodEntry;
}

int with_shutdown_method(int how_to_sd, int entry) {
  if (entry < 0 || entry >= static_cast<int>(kShutdownMethodBits.size())) return how_to_sd;
  return (how_to_sd & ~method_mask()) | kShutdownMethodBits[static_cast<std::size_t>(entry)];
}

int with_shutdown_switches(int how_to_sd, bool force, bool hang_up) {
  how_to_sd &= ~(kShutdownForce | kShutdownHangUp);
  if (force) how_to_sd |= kShutdownForce;
  if (hang_up) how_to_sd |= kShutdownHangUp;
  return how_to_sd;
}

}  // namespace torvane
