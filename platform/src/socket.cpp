#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvane::platform {
namespace {

short poll_one(std::int32_t fd, short events) {
  if (fd < 0) return 0;
  pollfd p{fd, events, 0};
  int n;
  do {
    n = ::poll(&p, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n == 1 ? p.revents : 0;
}

}  // namespace

int tcp_socket_open(std::int32_t& fd) {
  fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    fd = -1;
    return 1;
  }
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return 2;
  return 0;
}

int tcp_connect_start(std::int32_t fd, const std::uint8_t address[16]) {
  sockaddr_in sa{};
  static_assert(sizeof sa == 16, "IPv4 socket address is 16 bytes");
  std::memcpy(&sa, address, sizeof sa);
  sa.sin_family = AF_INET;  // the stored form keeps the family in the first 16-bit word
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
  if (errno == EINPROGRESS || errno == EAGAIN || errno == EINTR || errno == EISCONN ||
      errno == EALREADY)
    return 0;
  return -1;
}

void socket_close(std::int32_t& fd) {
  if (fd < 0) return;
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  fd = -1;
}

bool socket_writable(std::int32_t fd) {
  return (poll_one(fd, POLLOUT) & POLLOUT) != 0;
}

bool socket_readable(std::int32_t fd) {
  // A closed or reset connection is readable: the read then reports it.
  return (poll_one(fd, POLLIN) & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool socket_error_condition(std::int32_t fd, bool* refused) {
  if (refused != nullptr) *refused = false;
  if ((poll_one(fd, POLLOUT) & POLLERR) == 0) return false;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return true;
  if (refused != nullptr) *refused = err == ECONNREFUSED;
  // POLLERR without a pending error can follow a reset that the next read
  // reports; only a pending socket error counts as the error condition.
  return err != 0;
}

long socket_send(std::int32_t fd, const void* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::send(fd, data, size, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n;
}

long recv_error_code(int error) {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return kRecvWouldBlock;
    case EINTR:
      return kRecvInterrupted;
    case ECONNRESET:
      return kRecvReset;
    default:
      return kRecvError;
  }
}

long socket_recv(std::int32_t fd, void* data, std::size_t size) {
  const ssize_t n = ::recv(fd, data, size, 0);
  return n >= 0 ? n : recv_error_code(errno);
}

int resolve_ipv4(const char* name, std::uint8_t out[4]) {
  if (name == nullptr || *name == '\0') return -1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr) return -1;
  const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
  std::memcpy(out, &sin->sin_addr, 4);
  ::freeaddrinfo(res);
  return 0;
}

void fill_ipv4_address(std::uint8_t address[16], const std::uint8_t ip[4], std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  std::memcpy(&sa.sin_addr, ip, 4);
  std::memcpy(address, &sa, 16);
}

}  // namespace torvane::platform
