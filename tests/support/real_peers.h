// Real peers for the integration tests, each a child process on a free
// loopback port with a configuration written here: nginx serving a folder of
// static files (ranges, HEAD, sendfile) and tinyproxy as the HTTP proxy; and
// the child processes and port helpers other peers' tests use.
//
// Contract: a peer is up once ok() is true and is killed when it is
// destroyed, or with the test process if that dies first. Start peers from
// the test's main thread: the parent-death signal follows the thread that
// started the child. A test skips when the program is not installed, unless
// peers_required() says the run must have them (the test script sets
// TORVANE_REQUIRE_PEERS=1 after installing them), in which case a missing
// program is a failure.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::test {

bool peers_required();

// Skips the test when the program at `path` ("" when it is not installed) is
// missing, or fails it when peers_required().
#define TORVANE_REQUIRE_PROGRAM(name, path)                                                 \
  if ((path).empty()) {                                                                     \
    if (::torvane::test::peers_required()) FAIL() << name " is required but not installed"; \
    GTEST_SKIP() << name " is not installed";                                               \
  }

// A socket listening on 127.0.0.1 at a free port, which goes to `port`
// (left as it is on failure); -1 on failure. `flags` are added to the
// socket type (SOCK_NONBLOCK).
int listen_loopback(int& port, int flags = 0);
// A loopback port that nothing listened on a moment ago.
int free_loopback_port();

// A child process whose standard output and error go to `log_path`.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const std::vector<std::string>& argv, const std::string& log_path) {
    start(argv, log_path);
  }
  ~ChildProcess() { stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void start(const std::vector<std::string>& argv, const std::string& log_path);
  // SIGKILL (the peers keep nothing worth a clean exit); reaps the child.
  void stop();
  void send_signal(int sig);
  // Waits for the child to end and reaps it: its exit status, 128 + the
  // signal number when a signal ended it, or -1 when it still runs at the
  // time-out (or was never started).
  int wait_exit(std::chrono::milliseconds timeout);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// What a peer needs beyond its kind: nginx's certificate and key files
// (both set: it speaks TLS only), tinyproxy's one port it lets CONNECT reach.
struct PeerExtras {
  std::string cert_file{}, key_file{};
  int connect_port = 0;
};

// A peer on a free loopback port: "nginx" serving the files in `dir` (over
// TLS with `extras`' certificate), or "tinyproxy" as a proxy for loopback
// clients. Its configuration, log and other files go into `dir` too.
class RealPeer {
 public:
  // The program's path, or "" when it is not installed.
  static std::string program(const std::string& name);
  // `location_lines` go into nginx's "location /" block (a limit_rate, say).
  RealPeer(const std::string& name, const std::string& dir, const std::string& location_lines = "",
           const PeerExtras& extras = {});

  bool ok() const { return ok_; }
  int port() const { return port_; }
  // Why it did not come up: its log.
  const std::string& error() const { return error_; }
  // "http://127.0.0.1:PORT" (https for nginx over TLS) followed by `path`.
  std::string url(std::string_view path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) +
           std::string(path);
  }

 private:
  ChildProcess process_;
  int port_ = 0;
  bool tls_ = false;
  bool ok_ = false;
  std::string error_;
};

}  // namespace torvane::test
