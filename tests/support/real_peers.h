// Real peers for the integration tests, each a child process on a free
// loopback port with a configuration written here: nginx serving a folder of
// static files (ranges, HEAD, sendfile) and tinyproxy as the HTTP proxy.
//
// Contract: a peer is up once ok() is true and stops (SIGTERM, then SIGKILL
// after a deadline) when it is destroyed, or with the test process if that
// dies first. Start peers from the test's main thread: the parent-death
// signal follows the thread that started the child. A test skips when the program is
// not installed, unless peers_required() says the run must have them (the
// test script sets TORVANE_REQUIRE_PEERS=1 after installing them), in which
// case a missing program is a failure.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvane::test {

bool peers_required();

// A loopback port that nothing listened on a moment ago.
int free_loopback_port();
// True once something accepts connections on 127.0.0.1:port.
bool wait_port_open(int port, std::chrono::milliseconds timeout);

// A child process whose standard output and error go to `log_path`.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const std::vector<std::string>& argv, const std::string& log_path);
  ~ChildProcess() { stop(); }
  ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
      stop();
      pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
  }

  bool running() const;
  // SIGTERM, a short wait, then SIGKILL; reaps the child.
  void stop();

 private:
  pid_t pid_ = -1;
};

class NginxServer {
 public:
  // The nginx program, or "" when it is not installed.
  static std::string program();

  // Serves the files under `root` (read-only) on a free port; its
  // configuration, logs and temporary files go under `work_dir`.
  NginxServer(const std::string& root, const std::string& work_dir);

  bool ok() const { return ok_; }
  int port() const { return port_; }
  std::string url(std::string_view path) const;
  // Why it did not come up: the tail of its log.
  const std::string& error() const { return error_; }

 private:
  ChildProcess process_;
  int port_ = 0;
  bool ok_ = false;
  std::string error_;
};

class TinyProxy {
 public:
  static std::string program();

  // A proxy for loopback clients on a free port; files under `work_dir`.
  explicit TinyProxy(const std::string& work_dir);

  bool ok() const { return ok_; }
  int port() const { return port_; }
  // "127.0.0.1:PORT", the form the item's proxy field takes.
  std::string address() const;
  const std::string& error() const { return error_; }

 private:
  ChildProcess process_;
  int port_ = 0;
  bool ok_ = false;
  std::string error_;
};

}  // namespace torvane::test
