// The clock the core reads: local wall-clock time (for the texts that show a
// date or match the shutdown time) and a wrapping millisecond tick (for the
// running time of a download). Passed in as an object so that tests can set it.
#pragma once

#include <cstdint>

namespace torvane {

// The broken-down local time, field for field as the settings store it.
struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;        // 1..12
  std::uint16_t day_of_week = 0;  // 0 = Sunday .. 6 = Saturday
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime local_time() const = 0;
  // Milliseconds of a steady clock, wrapping at 2^32; take differences unsigned.
  virtual std::uint32_t tick_ms() const = 0;
};

// The machine's clock. Safe on any thread.
class SystemClock final : public Clock {
 public:
  LocalTime local_time() const override;
  std::uint32_t tick_ms() const override;
};

// A clock that shows what it was set to; for tests and replays. Not synchronised.
class ManualClock final : public Clock {
 public:
  ManualClock() = default;
  explicit ManualClock(const LocalTime& time, std::uint32_t tick = 0) : time_(time), tick_(tick) {}
  void set(const LocalTime& time) { time_ = time; }
  void set_tick(std::uint32_t tick) { tick_ = tick; }
  LocalTime local_time() const override { return time_; }
  std::uint32_t tick_ms() const override { return tick_; }

 private:
  LocalTime time_{};
  std::uint32_t tick_ = 0;
};

}  // namespace torvane
