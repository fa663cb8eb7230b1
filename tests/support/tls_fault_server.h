// A loopback server that fails every TLS handshake in one way, for the
// faults nginx will not show on demand: it reads the client's first flight
// (the ClientHello) and then either closes the connection or says nothing
// more until it is destroyed. It counts the connections, so a test can tell
// how many attempts a client spent.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

namespace torvane::test {

class TlsFaultServer {
 public:
  enum Fault { kCloseAfterHello, kStallAfterHello };

  explicit TlsFaultServer(Fault fault);
  ~TlsFaultServer();
  TlsFaultServer(const TlsFaultServer&) = delete;
  TlsFaultServer& operator=(const TlsFaultServer&) = delete;

  // 0 when the port could not be set up.
  int port() const { return port_; }
  std::string url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }
  // Connections accepted so far.
  int connections() const { return connections_.load(); }
  // Connections whose first bytes looked like a TLS handshake record.
  int hellos() const { return hellos_.load(); }

 private:
  void run();

  Fault fault_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0}, hellos_{0};
  std::thread thread_;
};

}  // namespace torvane::test
