// The texts the item list shows for a download: the speed, the progress of
// the whole item and the detail row of one division, and the status words of
// item states and division statuses. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// "%lu / %lu (%d%%)", or the bare byte count when the size is 0 (not reported).
std::string progress_text(std::uint32_t done, std::uint32_t size);

// One division's detail row. `range_len` 0 gives the short form without
// byte counts (the caller writes it for division 0 only).
std::string detail_row_text(int division, int status, int tries, int retry, std::int64_t done,
                            std::uint32_t range_len);

}  // namespace torvane
