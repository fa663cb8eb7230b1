#include "platform/wait_set.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace torvane::platform {

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void WakeEvent::signal() {
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  // A full counter already means "signalled"; the result needs no check.
  [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
}

void WakeEvent::drain() {
  if (fd_ < 0) return;
  std::uint64_t value;
  [[maybe_unused]] ssize_t n = ::read(fd_, &value, sizeof value);
}

void WaitSet::wait(WakeEvent& wake, int timeout_ms) {
  if (timeout_ms > 0) poll(wake, timeout_ms);
}

void WaitSet::poll(WakeEvent& wake, int timeout_ms) {
  if (timeout_ms < 0) timeout_ms = 0;
  const std::size_t count = entries_.size() + 1;
  if (scratch_.size() < count * sizeof(pollfd)) scratch_.resize(count * sizeof(pollfd) * 2);
  auto* set = reinterpret_cast<pollfd*>(scratch_.data());
  set[0] = pollfd{wake.fd(), POLLIN, 0};
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const short events = entries_[i].what == kRead ? POLLIN : POLLOUT;
    set[i + 1] = pollfd{entries_[i].fd, events, 0};
  }
  int n;
  do {
    n = ::poll(set, static_cast<nfds_t>(count), timeout_ms);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    for (std::size_t i = 0; i < count; ++i) set[i].revents = 0;
  } else if (n > 0 && (set[0].revents & POLLIN) != 0) {
    wake.drain();
  }
  polled_ = count;
}

bool WaitSet::ready(std::size_t i) const {
  if (i + 1 >= polled_) return false;
  const pollfd& entry = reinterpret_cast<const pollfd*>(scratch_.data())[i + 1];
  const short wanted = entry.events == POLLIN ? POLLIN | POLLHUP | POLLERR : POLLOUT | POLLERR;
  return (entry.revents & wanted) != 0;
}

}  // namespace torvane::platform
