#include "core/queue/stall_watch.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "core/system/record_sizes.h"
#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

namespace torvane {

std::vector<DivisionSample> sample_divisions(ItemData& record, WideSizes* wide) {
  std::vector<DivisionSample> out;
  const int state = load_acquire(record.state);
  if (state != TVN_STATE_PROBING && state != TVN_STATE_DOWNLOADING) return out;
  std::int32_t* status = load_acquire(record.div_status);
  std::int32_t* stop = load_acquire(record.div_stop);
  const RecordSizes sizes(record, wide);
  std::int32_t* buf_fill = load_acquire(record.disk.buf_fill);
  if (status == nullptr || stop == nullptr || !sizes.has_ranges() || buf_fill == nullptr)
    return out;
  const int count = std::max(load_acquire(record.div_count), 1);
  // A stopping item ends on its own; nothing of it is reconnected.
  if (load_acquire(stop[count]) == 1) return out;
  // While the size is probed (a HEAD, or SpeedMode's ranged GET) only
  // division 0 talks to the server; the others wait without a connection.
  const std::uint32_t flags = load_acquire(record.run_flags);
  const bool probing =
      state == TVN_STATE_PROBING || ((flags & (TVN_RUN_PROBE_PENDING | TVN_RUN_PROBE_SENT)) != 0 &&
                                     (flags & TVN_RUN_PROBE_DONE) == 0);
  out.resize(static_cast<std::size_t>(count));
  for (int d = 0; d < count; ++d) {
    if (probing && d > 0) break;
    const std::int32_t s = load_acquire(status[d]);
    const bool busy = s == TVN_DIV_IDLE || s == TVN_DIV_SENT || s >= TVN_DIV_HTTP_MIN;
    if (!busy || load_acquire(stop[d]) == 1) continue;
    const std::uint64_t done = sizes.range_done(d);
    const std::uint64_t len = sizes.range_len(d);
    out[static_cast<std::size_t>(d)] = {
        .status = s,
        .bytes = static_cast<std::int64_t>(done) + load_acquire(buf_fill[d]),
        .complete = s >= TVN_DIV_HTTP_MIN && len != 0 && done >= len};
  }
  return out;
}

namespace {

using Mark = StallMarks::Mark;

std::uint32_t timeout_ms(const StallRule& rule) {
  return static_cast<std::uint32_t>(rule.timeout_s) * 1000u;
}

// A division's clock restarted: it gets a full timeout from `now_ms`.
Mark fresh_mark(const DivisionSample& s, std::uint32_t now_ms) {
  return Mark{true, s.status, s.bytes, now_ms, now_ms, 0};
}

// Bytes that reach the file leave the share, and a parsed header is taken
// out of it: any change is movement, counted by its size.
void count_movement(Mark& m, const DivisionSample& s, std::uint32_t now_ms) {
  if (s.bytes == m.bytes) return;
  m.window_bytes += std::llabs(s.bytes - m.bytes);
  m.bytes = s.bytes;
  m.moved_ms = now_ms;
}

// Why an unfinished division is due: no byte for the timeout, or fewer than
// the floor in the speed window that just closed (which then starts anew).
// Empty when it is not due.
std::string overdue_note(Mark& m, int div, const StallRule& rule, std::uint32_t now_ms) {
  if (now_ms - m.moved_ms >= timeout_ms(rule)) {
    return m.status == TVN_DIV_IDLE
               ? format_text("stalled: not connected after %d s (division %d)", rule.timeout_s, div)
               : format_text("stalled: no data for %d s (division %d)", rule.timeout_s, div);
  }
  if (now_ms - m.window_ms < timeout_ms(rule)) return {};
  const std::int64_t floor =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(rule.min_speed) * rule.timeout_s);
  std::string note;
  if (m.window_bytes < floor) {
    note = format_text("too slow: %lld bytes in %d s (division %d)",
                       static_cast<long long>(m.window_bytes), rule.timeout_s, div);
  }
  m.window_ms = now_ms;
  m.window_bytes = 0;
  return note;
}

// One division's mark brought up to `s`, and its verdict when it is due.
std::optional<StallVerdict> check_division(Mark& m, const DivisionSample& s, int div,
                                           const StallRule& rule, std::uint32_t now_ms) {
  if (s.status == DivisionSample::kNotWatched) {
    m.watched = false;
    return std::nullopt;
  }
  if (!m.watched || s.status != m.status) {
    m = fresh_mark(s, now_ms);
    return std::nullopt;
  }
  count_movement(m, s, now_ms);
  if (rule.timeout_s <= 0) return std::nullopt;
  if (s.complete) {
    // Its speed no longer matters; an idle connection past the timeout is
    // closed, which is no stall: no note, no reason.
    if (now_ms - m.moved_ms < timeout_ms(rule)) return std::nullopt;
    m = fresh_mark(s, now_ms);
    return StallVerdict{div, {}};
  }
  std::string note = overdue_note(m, div, rule, now_ms);
  if (note.empty()) return std::nullopt;
  m = fresh_mark(s, now_ms);
  return StallVerdict{div, std::move(note)};
}

}  // namespace

std::vector<StallVerdict> check_stalls(StallMarks& marks, std::uint64_t run,
                                       const std::vector<DivisionSample>& divisions,
                                       const StallRule& rule, std::uint32_t now_ms) {
  std::vector<StallVerdict> verdicts;
  if (marks.run != run) marks = StallMarks{.seen = false, .run = run, .marks = {}};
  marks.seen = true;
  marks.marks.resize(std::max(marks.marks.size(), divisions.size()));
  for (std::size_t d = 0; d < marks.marks.size(); ++d) {
    const DivisionSample s = d < divisions.size() ? divisions[d] : DivisionSample{};
    if (std::optional<StallVerdict> verdict =
            check_division(marks.marks[d], s, static_cast<int>(d), rule, now_ms)) {
      verdicts.push_back(std::move(*verdict));
    }
  }
  return verdicts;
}

void sweep_stalls(StallMarks& slot) {
  if (!slot.seen) slot = StallMarks{};
  slot.seen = false;
}

}  // namespace torvane
