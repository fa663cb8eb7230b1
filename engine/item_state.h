// The one place where an item's state and a division's status change, so
// that every transition is found by these two names.
//
// A change is a release store by default: the new value hands the record (or
// the division) to the thread that acts on it, and that thread reads it with
// acquire. The relaxed order is for a record that no engine thread serves yet,
// which a later release of the item's state publishes.
#pragma once

#include <atomic>
#include <cstdint>

#include "torvane/torvane.h"

namespace torvane::engine {

inline void set_item_state(ItemData& item, int state) {
  std::atomic_ref<std::int32_t>(item.state).store(state, std::memory_order_release);
}

inline void set_division_status(ItemData& item, int d, int status,
                                std::memory_order order = std::memory_order_release) {
  std::atomic_ref<std::int32_t>(item.div_status[d]).store(status, order);
}

// Engine-private run_flags bits, each marking something done once per item:
// a length that cannot be used has been reported, and a write of the item was
// refused and the item told to stop or fail for it, and why the item fails
// has been said (a 401 that names its final cause). A new start clears them
// with the rest of the record, a resume clears the last two.
constexpr std::uint32_t kRunLengthReported = 0x100;
constexpr std::uint32_t kRunWriteRefused = 0x200;
constexpr std::uint32_t kRunFailureSaid = 0x400;
// The item's first https request has said that certificates go unverified.
constexpr std::uint32_t kRunUnverifiedSaid = 0x800;
// A redirect from https:// to http:// has been said.
constexpr std::uint32_t kRunDowngradeSaid = 0x1000;

// Sets `bit` in the item's run_flags. True only for the call that set it, so
// that what follows happens once per item however often the cause recurs.
inline bool first_time(ItemData& item, std::uint32_t bit) {
  const std::uint32_t before =
      std::atomic_ref<std::uint32_t>(item.run_flags).fetch_or(bit, std::memory_order_acq_rel);
  return (before & bit) == 0;
}

}  // namespace torvane::engine
