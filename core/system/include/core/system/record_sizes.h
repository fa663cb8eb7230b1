// The sizes of an engine record, whole. disk.file_size, disk.range_len[d]
// and disk.range_done[d] are 32-bit fields that hold min(value,
// TVN_SIZE_WIDE); a saturated one has its whole value in the slot's
// WideSizes (dl_wide). Every reading of those fields in the program goes
// through RecordSizes, so no byte count of a file of 4 GiB or more is ever
// taken for 4 GiB - 1.
//
// A saved record (a copy kept at a stop, or read from the list file) has no
// slot; its whole values travel beside it as a WideCopy.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "torvane/torvane.h"

namespace torvane {

// A record's sizes, read as the engine allows while it runs the slot: the
// array pointers once, with acquire; file_size and range_done[d] relaxed,
// range_len[d] acquire. `wide` may be null (no engine, or a record that has
// none): a saturated field then reads as TVN_SIZE_WIDE.
class RecordSizes {
 public:
  RecordSizes(ItemData& record, WideSizes* wide);

  std::uint64_t file_size() const;
  // Both division arrays are there.
  bool has_ranges() const { return len_ != nullptr && done_ != nullptr; }
  bool has_done() const { return done_ != nullptr; }
  // Division d (below div_count), when its array is there.
  std::uint64_t range_len(int d) const;
  std::uint64_t range_done(int d) const;

 private:
  ItemData& record_;
  WideSizes* wide_;
  std::uint32_t* len_;
  std::uint32_t* done_;
  std::uint64_t* wide_len_ = nullptr;
  std::uint64_t* wide_done_ = nullptr;
};

// The whole sizes kept with a saved record: div_count entries each, or
// nothing at all for a record none of whose fields is saturated.
struct WideCopy {
  std::uint64_t file_size = 0;
  std::vector<std::uint64_t> range_len, range_done;

  bool empty() const { return range_len.empty(); }
  // A WideSizes that points into this copy, for RecordSizes (its arrays
  // null when the copy is empty).
  WideSizes view();
};

// A field of `record` holds TVN_SIZE_WIDE (file_size, or one of its first
// div_count ranges).
bool has_saturated_size(const ItemData& record);

// `wide` belongs to `record`: div_count entries each, and every value
// narrows to the record's field.
bool wide_copy_fits(const ItemData& record, const WideCopy& wide);

// The whole sizes of `record` to keep beside a copy of it: empty when it
// needs none, none when it needs them and `wide` does not hold them (the
// record then cannot be resumed: its saturated fields would be taken for
// 4 GiB - 1). `record` must not change meanwhile.
std::optional<WideCopy> keep_wide_sizes(ItemData& record, WideSizes* wide);

}  // namespace torvane
