// Test infrastructure: one thread polling the listening socket and the
// connections it keeps.
#include "tests/support/tls_fault_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "tests/support/real_peers.h"

namespace torvane::test {

TlsFaultServer::TlsFaultServer(Fault fault) : fault_(fault) {
  listen_fd_ = listen_loopback(port_, SOCK_NONBLOCK);
  if (listen_fd_ < 0) {
    port_ = 0;
    return;
  }
  thread_ = std::thread([this] { run(); });
}

TlsFaultServer::~TlsFaultServer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void TlsFaultServer::run() {
  std::vector<int> open;   // connections that sent their hello and are kept
  std::vector<int> fresh;  // connections whose hello has not come yet
  while (!stop_.load()) {
    std::vector<pollfd> fds{{listen_fd_, POLLIN, 0}};
    for (int fd : fresh) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        connections_.fetch_add(1);
        fresh.push_back(fd);
      }
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const int fd = fds[i].fd;
      char bytes[4096];
      const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
      if (got < 0) continue;
      // A handshake record: content type 22, version 3.x.
      if (got >= 3 && bytes[0] == 22 && bytes[1] == 3) hellos_.fetch_add(1);
      std::erase(fresh, fd);
      if (fault_ == kCloseAfterHello || got == 0)
        ::close(fd);
      else
        open.push_back(fd);
    }
  }
  for (int fd : fresh) ::close(fd);
  for (int fd : open) ::close(fd);
}

}  // namespace torvane::test
