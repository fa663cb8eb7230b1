// The pause at the top of an engine thread's cycle: wait at most a given time,
// but return as soon as one of the watched sockets is ready or another thread
// signals the wake event. An idle thread thus pauses exactly as configured and
// a busy one is never slowed by the pause.
#pragma once

#include <cstdint>
#include <vector>

namespace torvane::platform {

// A level-triggered wake-up that any thread may signal.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  bool valid() const { return fd_ >= 0; }
  void signal();
  // Clears pending signals; called by the waiting thread after it woke.
  void drain();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

class WaitSet {
 public:
  void clear() {
    entries_.clear();
    polled_ = 0;
  }
  void watch_readable(std::int32_t fd) { add(fd, kRead); }
  void watch_writable(std::int32_t fd) { add(fd, kWrite); }
  std::size_t size() const { return entries_.size(); }

  // Waits up to timeout_ms (returns at once when <= 0) for any watched socket
  // or the wake event. Drains the wake event when it fired.
  void wait(WakeEvent& wake, int timeout_ms);
  // As wait, but it always looks at the watched sockets (a zero time-out when
  // timeout_ms <= 0) and keeps which of them are ready, for ready().
  void poll(WakeEvent& wake, int timeout_ms);
  // After poll: the i-th watched socket (in the order of the watch calls) is
  // ready as watched; a closed or failed socket counts as readable. A watch
  // of -1 adds nothing and takes no place.
  bool ready(std::size_t i) const;

 private:
  static constexpr short kRead = 1;
  static constexpr short kWrite = 2;
  struct Entry {
    std::int32_t fd;
    short what;
  };
  void add(std::int32_t fd, short what) {
    if (fd >= 0) entries_.push_back(Entry{fd, what});
  }
  std::vector<Entry> entries_;
  std::vector<char> scratch_;  // reused poll array, so a pause allocates nothing
  std::size_t polled_ = 0;     // entries of scratch_ the last poll filled, the wake event's too
};

}  // namespace torvane::platform
