#include "core/system/record_sizes.h"

#include "torvane/shared_access.hpp"

namespace torvane {

RecordSizes::RecordSizes(ItemData& record, WideSizes* wide)
    : record_(record),
      wide_(wide),
      len_(load_acquire(record.disk.range_len)),
      done_(load_acquire(record.disk.range_done)) {
  if (wide_ != nullptr) {
    wide_len_ = load_acquire(wide_->range_len);
    wide_done_ = load_acquire(wide_->range_done);
  }
}

std::uint64_t RecordSizes::file_size() const {
  const std::uint32_t narrow = load_relaxed(record_.disk.file_size);
  if (narrow != TVN_SIZE_WIDE || wide_ == nullptr) return narrow;
  return tvn_whole_size(narrow, load_relaxed(wide_->file_size));
}

std::uint64_t RecordSizes::range_len(int d) const {
  const std::uint32_t narrow = load_acquire(len_[d]);
  if (narrow != TVN_SIZE_WIDE || wide_len_ == nullptr) return narrow;
  return tvn_whole_size(narrow, load_acquire(wide_len_[d]));
}

std::uint64_t RecordSizes::range_done(int d) const {
  const std::uint32_t narrow = load_relaxed(done_[d]);
  if (narrow != TVN_SIZE_WIDE || wide_done_ == nullptr) return narrow;
  return tvn_whole_size(narrow, load_relaxed(wide_done_[d]));
}

WideSizes WideCopy::view() {
  if (empty()) return {};
  return {file_size, range_len.data(), range_done.data()};
}

bool has_saturated_size(const ItemData& record) {
  if (record.disk.file_size == TVN_SIZE_WIDE) return true;
  for (int d = 0; d < record.div_count; ++d) {
    if (record.disk.range_len != nullptr && record.disk.range_len[d] == TVN_SIZE_WIDE) return true;
    if (record.disk.range_done != nullptr && record.disk.range_done[d] == TVN_SIZE_WIDE)
      return true;
  }
  return false;
}

bool wide_copy_fits(const ItemData& record, const WideCopy& wide) {
  const auto n = static_cast<std::size_t>(record.div_count > 0 ? record.div_count : 0);
  if (wide.range_len.size() != n || wide.range_done.size() != n ||
      tvn_narrow_size(wide.file_size) != record.disk.file_size ||
      record.disk.range_len == nullptr || record.disk.range_done == nullptr) {
    return false;
  }
  for (std::size_t d = 0; d < n; ++d) {
    if (tvn_narrow_size(wide.range_len[d]) != record.disk.range_len[d] ||
        tvn_narrow_size(wide.range_done[d]) != record.disk.range_done[d]) {
      return false;
    }
  }
  return true;
}

std::optional<WideCopy> keep_wide_sizes(ItemData& record, WideSizes* wide) {
  if (!has_saturated_size(record)) return WideCopy{};
  if (wide == nullptr || record.disk.range_len == nullptr || record.disk.range_done == nullptr) {
    return std::nullopt;
  }
  // A saturated field whose whole value the engine did not give would be
  // taken for 4 GiB - 1 by a resume: such a record is not kept.
  bool whole = true;
  const auto value = [&](std::uint32_t narrow, std::uint64_t* values, int d) -> std::uint64_t {
    if (narrow != TVN_SIZE_WIDE) return narrow;
    const std::uint64_t v = values != nullptr ? load_relaxed(values[d]) : 0;
    whole = whole && v >= TVN_SIZE_WIDE;
    return v;
  };
  std::uint64_t* const wide_len = load_acquire(wide->range_len);
  std::uint64_t* const wide_done = load_acquire(wide->range_done);
  WideCopy copy;
  copy.file_size = value(record.disk.file_size, &wide->file_size, 0);
  for (int d = 0; d < record.div_count; ++d) {
    copy.range_len.push_back(value(record.disk.range_len[d], wide_len, d));
    copy.range_done.push_back(value(record.disk.range_done[d], wide_done, d));
  }
  if (!whole) return std::nullopt;
  return copy;
}

}  // namespace torvane
