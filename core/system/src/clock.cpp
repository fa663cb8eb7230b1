// The system clock over the platform's local time and tick.
#include "core/system/clock.h"

#include "platform/local_time.h"
#include "platform/thread_time.h"

namespace torvane {

LocalTime SystemClock::local_time() const {
  const platform::LocalTimeFields f = platform::local_time_now();
  LocalTime t;
  t.year = f.year;
  t.month = f.month;
  t.day_of_week = f.day_of_week;
  t.day = f.day;
  t.hour = f.hour;
  t.minute = f.minute;
  t.second = f.second;
  t.milliseconds = f.milliseconds;
  return t;
}

std::uint32_t SystemClock::tick_ms() const {
  return platform::tick_ms();
}

}  // namespace torvane
