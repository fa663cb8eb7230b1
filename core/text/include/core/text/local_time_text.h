// The local time as text in the program's three fixed layouts, with the
// Japanese weekday words.
//
//   kind 0  "MM/DD(W) hh:mm"             status bar clock, history date
//   kind 2  "MM月DD日(W) hh時mm分"        name token $t
//   kind 3  "MM月DD日(W) hh時mm分ss秒"    name token $1t
#pragma once

#include <string>
#include <string_view>

#include "core/system/clock.h"

namespace torvane {

inline constexpr int kTimeSlash = 0;
inline constexpr int kTimeWords = 2;
inline constexpr int kTimeWordsSeconds = 3;

// "日" for Sunday through "土" for Saturday; an out-of-range weekday gives "?".
std::string_view weekday_word(int day_of_week);

// Writes `time` in layout `kind` into `out` and returns 0; any other kind
// leaves `out` untouched and returns -1.
int format_time_text(const LocalTime& time, int kind, std::string& out);

// The same for the clock's current local time.
int format_local_time(const Clock& clock, int kind, std::string& out);

}  // namespace torvane
