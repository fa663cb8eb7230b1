// The text form of the shutdown time as the power dialog edits it:
// "y2001 mo12 d24 h23 mi30 s00". A field left out holds 9999 and matches any
// value.
#pragma once

#include <string>
#include <string_view>

#include "core/system/clock.h"

namespace torvane {

inline constexpr int kAnyTimeField = 9999;

// All seven fields (year, month, weekday, day, hour, minute, second) start as
// 9999; then, reading from the start, ' ', ',', '/' and ':' are passed over,
// and 'y' takes the next four bytes as the year, "mo", 'd', 'h', "mi" and 's'
// the next two as month, day, hour, minute and second (each the value of the
// leading digits of those bytes, 0 when there are none). Any other byte ends
// the reading. Milliseconds are set to 0.
LocalTime parse_set_time(std::string_view text);

// "y%.4d mo%.2d d%.2d h%.2d mi%.2d s%.2d " with the fields that are not 9999.
std::string format_set_time(const LocalTime& time);

}  // namespace torvane
