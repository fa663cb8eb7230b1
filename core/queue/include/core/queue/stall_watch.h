// The stall rule: a division that is connecting, waiting for its answer or
// receiving, and that moved fewer than max(1, min_speed x timeout) bytes in
// the last `timeout` seconds, is stalled and gets reconnected (which uses an
// attempt). Without it a server that accepts and never answers, stops in the
// middle of a body or drips a byte now and then keeps an item waiting for
// ever.
//
// This is bookkeeping only: the manager's tick samples each running slot
// (sample_divisions), asks check_stalls() which divisions to reconnect, and
// does the reconnecting, the note and the reason itself. Each slot's marks
// live in the manager's slot table; not thread-safe, the manager calls it
// under its lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "torvane/torvane.h"

namespace torvane {

inline constexpr std::int32_t kDefaultStallTimeout = 60;
inline constexpr std::int32_t kDefaultMinSpeed = 1;

// From the server profiles ("StallTimeout", "MinSpeed").
struct StallRule {
  std::int32_t timeout_s = kDefaultStallTimeout;  // seconds; 0: never stalled
  std::int32_t min_speed = kDefaultMinSpeed;      // bytes per second; 0: no floor
};

// One division as a tick sees it.
struct DivisionSample {
  // The division's status while it is connecting, waiting for or receiving
  // data; kNotWatched otherwise (ended, stopped, or held back while the
  // size is probed on division 0).
  std::int32_t status = kNotWatched;
  std::int64_t bytes = 0;  // range_done + buf_fill: header bytes count
  // Every byte of its range is in the file; its connection may still be
  // open until the next division is done.
  bool complete = false;
  static constexpr std::int32_t kNotWatched = -1;
};

// The divisions of a running slot (state 3 or 4) as they stand; empty for
// any other state or while the item is being stopped. Reads the shared
// fields with acquire loads, its sizes through RecordSizes with the slot's
// WideSizes `wide` (null: none); the record must stay valid meanwhile (the
// manager reads only slots linked to an item, under its lock).
std::vector<DivisionSample> sample_divisions(ItemData& record, WideSizes* wide);

struct StallVerdict {
  int div;
  // "stalled: no data for 60 s (division 2)", "too slow: 12 bytes in 60 s
  // (division 0)", "stalled: not connected after 60 s (division 0)".
  // Empty for a division that has all its bytes and only holds an idle
  // connection: closing it ends the division and is no stall.
  std::string note;
};

// The marks of one slot.
struct StallMarks {
  struct Mark {
    bool watched = false;
    std::int32_t status = 0;
    std::int64_t bytes = 0;
    std::uint32_t moved_ms = 0;     // when bytes last changed
    std::uint32_t window_ms = 0;    // start of the current speed window
    std::int64_t window_bytes = 0;  // bytes moved since then
  };
  bool seen = false;  // checked since the last sweep
  std::uint64_t run = 0;
  std::vector<Mark> marks;
};

// The divisions of a slot to reconnect at `now_ms` (a wrapping millisecond
// tick). `run` tells this run of an item in the slot from any other
// (another item, or the same one started again): the slot's marks start
// afresh when it changes. A division's clock restarts whenever it starts
// being watched, changes status, or gets a verdict, so a reconnect is given
// its own full timeout.
std::vector<StallVerdict> check_stalls(StallMarks& slot, std::uint64_t run,
                                       const std::vector<DivisionSample>& divisions,
                                       const StallRule& rule, std::uint32_t now_ms);
// Forgets the marks when check_stalls did not see the slot since the last
// sweep.
void sweep_stalls(StallMarks& slot);

}  // namespace torvane
