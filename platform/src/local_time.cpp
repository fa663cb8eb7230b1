// Local time through localtime_r, which unlike localtime shares no buffer
// between threads.
#include "platform/local_time.h"

#include <sys/time.h>
#include <time.h>

namespace torvane::platform {

LocalTimeFields local_time_now() {
  struct timeval now {};
  ::gettimeofday(&now, nullptr);
  const time_t seconds = now.tv_sec;
  struct tm parts {};
  ::localtime_r(&seconds, &parts);
  LocalTimeFields t{};
  t.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
  t.month = static_cast<std::uint16_t>(parts.tm_mon + 1);
  t.day_of_week = static_cast<std::uint16_t>(parts.tm_wday);
  t.day = static_cast<std::uint16_t>(parts.tm_mday);
  t.hour = static_cast<std::uint16_t>(parts.tm_hour);
  t.minute = static_cast<std::uint16_t>(parts.tm_min);
  // A leap second would show as 60; the formats expect two digits up to 59.
  t.second = static_cast<std::uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  t.milliseconds = static_cast<std::uint16_t>(now.tv_usec / 1000);
  return t;
}

}  // namespace torvane::platform
