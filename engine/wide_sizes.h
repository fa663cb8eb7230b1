// The sizes of an item in both forms: the whole 64-bit values in the slot's
// WideSizes, which the engine works with, and the record's 32-bit fields,
// which hold the same values saturated at TVN_SIZE_WIDE for clients that
// read only those. Every size the engine stores goes through store_size, so
// the two forms never disagree.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/ranges.h"
#include "torvane/torvane.h"

namespace torvane::engine {

// The largest size or offset taken from a server: 2^62 bytes, far beyond
// any file system, and a sum of two stays below 2^63, so no offset handed to
// the file layer (a signed 64-bit offset) can overflow.
constexpr std::uint64_t kMaxSize = std::uint64_t{1} << 62;

// Stores `value` as its whole value and, saturated, into its 32-bit field.
inline void store_size(std::uint64_t& wide, std::uint32_t& narrow, std::uint64_t value,
                       std::memory_order order) {
  std::atomic_ref<std::uint64_t>(wide).store(value, order);
  std::atomic_ref<std::uint32_t>(narrow).store(tvn_narrow_size(value), order);
}

// An item's record with its slot's WideSizes. Reads give the whole values;
// writes store both forms, with the orders of "Reading a running item":
// lengths released, the size and the bytes done relaxed.
class ItemSizes {
 public:
  ItemSizes(ItemData& item, WideSizes& wide) : item_(item), wide_(wide) {}

  ItemData& item() const { return item_; }
  std::uint64_t file_size() const { return wide_.file_size; }
  std::uint64_t len(int d) const { return wide_.range_len[d]; }
  std::uint64_t done(int d) const { return wide_.range_done[d]; }
  // Where division d goes on in the file: its start plus its bytes done.
  std::uint64_t next_byte(int d) const { return division_start(wide_.range_len, d) + done(d); }
  std::uint64_t start(int d) const { return division_start(wide_.range_len, d); }

  void set_file_size(std::uint64_t value) const {
    store_size(wide_.file_size, item_.disk.file_size, value, std::memory_order_relaxed);
  }
  void set_len(int d, std::uint64_t value) const {
    store_size(wide_.range_len[d], item_.disk.range_len[d], value, std::memory_order_release);
  }
  void set_done(int d, std::uint64_t value) const {
    store_size(wide_.range_done[d], item_.disk.range_done[d], value, std::memory_order_relaxed);
  }

 private:
  ItemData& item_;
  WideSizes& wide_;
};

}  // namespace torvane::engine
