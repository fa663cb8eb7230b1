// The texts the item list shows for a download: the speed, the progress of
// the whole item and the detail row of one division, and the status words of
// item states and division statuses; and the byte counts behind them. Pure
// functions; any thread.
//
// Every byte count is 64-bit: a file, and a division of one, may hold 4 GiB
// and more (the engine's 32-bit fields are read whole through RecordSizes),
// and a signed 32-bit mark turns negative past 2 GiB.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/system/record_sizes.h"
#include "torvane/torvane.h"

namespace torvane {

// The status word of an item state ("待機" .. "休憩"); "" outside 0..7.
std::string_view item_state_word(int state);
// The status word of a division status: 0 "待機", 1 "接続", 2 "完了",
// 3 "ERR!", 4 and above "ＤＬ"; "" for a negative status.
std::string_view division_status_word(int status);

// A speed in bytes per millisecond (1 = 1000 bytes per second) with the
// multiplier 1000: "%4.1fbyte/s" .. "%4.1fGbyte/s", or in bits
// ("%4.1fbps" .. "%4.1fGbps") when `bits` is set.
std::string format_speed(double bytes_per_ms, bool bits);

// "%llu / %llu (%d%%)", or the bare byte count when the size is 0 (not reported).
std::string progress_text(std::uint64_t done, std::uint64_t size);

// The bytes `record` holds: each division as far as written plus, with
// `waiting`, what waits in its share, or, with `finished_whole`, a finished
// division by its whole range (the speed counts it so). `wide` is the
// slot's WideSizes (null for none). None when the arrays are gone. The
// counters are read with relaxed loads, so a running slot may be passed (the
// caller holds the manager's lock).
std::optional<std::uint64_t> bytes_done(ItemData& record, WideSizes* wide, bool finished_whole,
                                        bool waiting = true);

// Bytes per millisecond from the mark `before` to `now` over `elapsed_ms`
// (format_speed's unit); 0 when no time passed or fewer bytes are counted
// now than before (a reconnect drops what waited in a share).
double speed_between(std::int64_t before, std::uint64_t now, std::uint32_t elapsed_ms);

// One division's detail row. `range_len` 0 gives the short form without
// byte counts (the caller writes it for division 0 only).
std::string detail_row_text(int division, int status, int tries, int retry, std::int64_t done,
                            std::uint64_t range_len);

}  // namespace torvane
