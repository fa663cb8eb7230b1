// Local wall-clock time in the broken-down form the program formats and
// compares (month, day, weekday, hour, minute, second).
#pragma once

#include <cstdint>

namespace torvane::platform {

struct LocalTimeFields {
  std::uint16_t year;
  std::uint16_t month;        // 1..12
  std::uint16_t day_of_week;  // 0 = Sunday .. 6 = Saturday
  std::uint16_t day;          // 1..31
  std::uint16_t hour;         // 0..23
  std::uint16_t minute;
  std::uint16_t second;
  std::uint16_t milliseconds;
};

// The current local time of the process's time zone. Safe on any thread.
LocalTimeFields local_time_now();

}  // namespace torvane::platform
