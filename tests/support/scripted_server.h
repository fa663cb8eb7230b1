// A scripted HTTP/1.0 server on 127.0.0.1 for the engine tests: the
// behaviours a real server will not show on demand (ranges ignored, missing
// lengths, redirects with odd header spelling, error answers, early close,
// answers held back) and a byte-exact record of every request, so tests
// compare request texts by equality.
//
// Contract:
//  - The server listens on a free loopback port from construction to
//    destruction and serves any number of connections at once from one
//    thread of its own (no thread per connection, so a test may open more
//    than 64).
//  - The handler runs on the server's thread, once per complete request
//    (ended by the earliest blank line, CRLF or bare LF), and must return
//    promptly: a reply that waits uses a Gate instead of blocking.
//  - Every member function may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace torvane::test {

struct HttpRequest {
  std::string raw;     // every byte up to and including the terminating blank line
  std::string method;  // "GET", "HEAD", ...
  std::string target;  // as sent: "/path?q" or a whole URL through a proxy

  // N of a "Range: bytes=N-" line; -1 without one.
  std::int64_t range_start() const;
};

// A one-way latch a test opens to let held-back bytes go.
class Gate {
 public:
  void open() { open_.store(true, std::memory_order_release); }
  bool is_open() const { return open_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> open_{false};
};

// What the server sends for one request: `head` and then `body` (a shared
// block and a slice of it, so large files are not copied per request).
struct HttpReply {
  std::string head{};
  std::shared_ptr<const std::string> body{};
  std::size_t body_offset = 0;
  std::size_t body_size = 0;

  // Bytes of head + body sent before the orderly close; npos sends them all.
  std::size_t send_limit = std::string::npos;
  // Keep the connection open after the last byte until the client closes
  // it or the server stops.
  bool hold = false;
  // When set, sending pauses at byte `gate_at` of head + body until the
  // gate opens.
  std::shared_ptr<Gate> gate{};
  std::size_t gate_at = 0;
  // When set, the head goes at once and the body one byte at a time, this
  // far apart (a server that drips).
  std::chrono::milliseconds drip{0};

  // A reply of exactly these bytes (status line, header and body together).
  static HttpReply raw(std::string bytes) { return {.head = std::move(bytes)}; }
  // Nothing is sent; the connection stays open (a server that never answers).
  static HttpReply silence() { return {.hold = true}; }
};

using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

class ScriptedServer {
 public:
  // Starts listening and serving. Without a handler every request gets 404.
  // With `any_bytes`, a connection's first bytes are its request, whatever
  // they are (the first flight of a TLS handshake, say).
  explicit ScriptedServer(HttpHandler handler = {}, bool any_bytes = false);
  ~ScriptedServer();

  // "http://127.0.0.1:PORT" followed by `path` (which should start with '/').
  std::string url(std::string_view path) const;
  void set_handler(HttpHandler handler);

  std::vector<HttpRequest> requests() const;
  std::size_t request_count() const { return requests().size(); }
  // The range starts (0 without a Range line) of the GETs from request
  // `from` on, of `target` only when one is given, in increasing order.
  std::vector<std::int64_t> get_starts(std::size_t from = 0, std::string_view target = {}) const;
  // Waits until at least n requests have arrived; false at the deadline.
  bool wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const;

 private:
  struct Connection;
  void run();
  bool read_from(Connection& c);

  int listen_fd_ = -1;
  int port_ = 0;
  const bool any_bytes_;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  HttpHandler handler_;
  std::vector<HttpRequest> requests_;

  std::vector<std::unique_ptr<Connection>> connections_;  // server thread only
  std::thread thread_;
};

// A loopback port whose connects are never answered: its listen queue holds
// one connection that is never accepted, so the kernel drops the SYNs of
// every further connect, which stays pending until the client gives up.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;

  // 0 when the port could not be set up.
  int port() const { return port_; }

 private:
  int listen_fd_ = -1;
  int filler_fd_ = -1;
  int port_ = 0;
};

}  // namespace torvane::test
