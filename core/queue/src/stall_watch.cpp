#include "core/queue/stall_watch.h"

#include <algorithm>
#include <cstdlib>

#include "core/text/text_util.h"
#include "torvane/shared_access.hpp"

namespace torvane {

std::vector<DivisionSample> sample_divisions(ItemData& record) {
  std::vector<DivisionSample> out;
  const int state = load_acquire(record.state);
  if (state != TVN_STATE_PROBING && state != TVN_STATE_DOWNLOADING) return out;
  std::int32_t* status = load_acquire(record.div_status);
  std::int32_t* stop = load_acquire(record.div_stop);
  std::uint32_t* range_done = load_acquire(record.disk.range_done);
  std::int32_t* buf_fill = load_acquire(record.disk.buf_fill);
  std::uint32_t* range_len = load_acquire(record.disk.range_len);
  if (status == nullptr || stop == nullptr || range_done == nullptr || buf_fill == nullptr ||
      range_len == nullptr)
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
    const std::uint32_t done = load_acquire(range_done[d]);
    const std::uint32_t len = load_acquire(range_len[d]);
    out[static_cast<std::size_t>(d)] = {
        .status = s,
        .bytes = static_cast<std::int64_t>(done) + load_acquire(buf_fill[d]),
        .complete = s >= TVN_DIV_HTTP_MIN && len != 0 && done >= len};
  }
  return out;
}

std::vector<StallVerdict> check_stalls(StallMarks& marks, std::uint64_t run,
                                       const std::vector<DivisionSample>& divisions,
                                       const StallRule& rule, std::uint32_t now_ms) {
  using Mark = StallMarks::Mark;
  std::vector<StallVerdict> verdicts;
  if (marks.run != run) marks = StallMarks{.seen = false, .run = run, .marks = {}};
  marks.seen = true;
  marks.marks.resize(std::max(marks.marks.size(), divisions.size()));
  const std::uint32_t timeout_ms = static_cast<std::uint32_t>(rule.timeout_s) * 1000u;
  const std::int64_t floor =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(rule.min_speed) * rule.timeout_s);
  for (std::size_t d = 0; d < marks.marks.size(); ++d) {
    Mark& m = marks.marks[d];
    const DivisionSample s = d < divisions.size() ? divisions[d] : DivisionSample{};
    if (s.status == DivisionSample::kNotWatched) {
      m.watched = false;
      continue;
    }
    if (!m.watched || s.status != m.status) {
      m = Mark{true, s.status, s.bytes, now_ms, now_ms, 0};
      continue;
    }
    if (s.bytes != m.bytes) {
      // Bytes that reach the file leave the share, and a parsed header is
      // taken out of it: any change is movement, counted by its size.
      m.window_bytes += std::llabs(s.bytes - m.bytes);
      m.bytes = s.bytes;
      m.moved_ms = now_ms;
    }
    if (rule.timeout_s <= 0) continue;
    const int div = static_cast<int>(d);
    std::string note;
    if (now_ms - m.moved_ms >= timeout_ms && s.complete) {
      // Nothing is due on it: no note, no reason.
      m = Mark{true, s.status, s.bytes, now_ms, now_ms, 0};
      verdicts.push_back({div, {}});
      continue;
    }
    if (s.complete) continue;  // its speed no longer matters
    if (now_ms - m.moved_ms >= timeout_ms) {
      note =
          m.status == TVN_DIV_IDLE
              ? format_text("stalled: not connected after %d s (division %d)", rule.timeout_s, div)
              : format_text("stalled: no data for %d s (division %d)", rule.timeout_s, div);
    } else if (now_ms - m.window_ms >= timeout_ms) {
      if (m.window_bytes < floor) {
        note = format_text("too slow: %lld bytes in %d s (division %d)",
                           static_cast<long long>(m.window_bytes), rule.timeout_s, div);
      }
      m.window_ms = now_ms;
      m.window_bytes = 0;
    }
    if (note.empty()) continue;
    m = Mark{true, s.status, s.bytes, now_ms, now_ms, 0};
    verdicts.push_back({div, std::move(note)});
  }
  return verdicts;
}

void sweep_stalls(StallMarks& slot) {
  if (!slot.seen) slot = StallMarks{};
  slot.seen = false;
}

}  // namespace torvane
