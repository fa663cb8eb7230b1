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

}  // namespace torvane::engine
