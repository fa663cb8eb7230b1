// A scripted HTTP/1.0 server on 127.0.0.1 for the engine tests: the
// behaviours a real server will not show on demand (ranges answered or
// ignored, missing lengths, redirects with odd header spelling, error
// answers, early close, reset, slow drip, answers held back) and a byte-exact
// record of every request, so tests compare request texts by equality.
//
// Contract:
//  - The server listens on a free loopback port from construction to
//    destruction and serves any number of connections at once from one
//    thread of its own (no thread per connection, so a test may open more
//    than 64).
//  - The handler runs on the server's thread, once per complete request
//    (ended by the earliest blank line, CRLF or bare LF), and must return
//    promptly: a reply that waits uses a Gate or the drip settings instead
//    of blocking.
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
  int index = 0;       // order of arrival over the server's life, from 0
  std::string raw;     // every byte up to and including the terminating blank line
  std::string method;  // "GET", "HEAD", ...
  std::string target;  // as sent: "/path?q" or a whole URL through a proxy

  // First value of a header, name compared without regard to case, leading
  // blanks dropped; "" when absent.
  std::string header(std::string_view name) const;
  bool has_header(std::string_view name) const;
  // First byte of "Range: bytes=N-" or "bytes=N-M"; -1 without a usable Range.
  std::int64_t range_start() const;
  // Last byte of "bytes=N-M"; -1 for an open end or without a Range.
  std::int64_t range_end() const;
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
  enum class Ending {
    kClose,  // orderly close (FIN) after the last byte
    kReset,  // abortive close (RST) after the last byte
    kHold,   // keep the connection open until the client closes it,
             // release_held() is called or the server stops
  };

  std::string head;
  std::shared_ptr<const std::string> body;
  std::size_t body_offset = 0;
  std::size_t body_size = 0;

  // Bytes of head + body sent before the ending; npos sends all of them.
  std::size_t send_limit = std::string::npos;
  Ending ending = Ending::kClose;
  // Drip: at most `chunk` bytes per step with `interval_ms` between steps;
  // chunk 0 sends as fast as the client reads.
  std::size_t chunk = 0;
  int interval_ms = 0;
  // When set, sending pauses at byte `gate_at` of head + body until the
  // gate opens.
  std::shared_ptr<Gate> gate;
  std::size_t gate_at = 0;

  std::size_t total() const { return head.size() + body_size; }

  // A reply of exactly these bytes (status line, header and body together).
  static HttpReply raw(std::string bytes, Ending ending = Ending::kClose);
  // Nothing is sent; the connection stays open (a server that never answers).
  static HttpReply silence();
};

using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

class ScriptedServer {
 public:
  // Starts listening and serving. Without a handler every request gets 404.
  explicit ScriptedServer(HttpHandler handler = {});
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  // False when the listening socket or the thread could not be set up.
  bool ok() const { return listen_fd_ >= 0 && thread_.joinable(); }
  int port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by `path` (which should start with '/').
  std::string url(std::string_view path) const;

  void set_handler(HttpHandler handler);

  std::vector<HttpRequest> requests() const;
  std::size_t request_count() const;
  // Waits until at least n requests have arrived; false at the deadline.
  bool wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const;

  // Connections open right now, and the most that were open at one time.
  int open_connections() const { return open_now_.load(); }
  int peak_connections() const { return open_peak_.load(); }
  // Connections that the client closed or reset before the server ended them
  // (a stopped download, or one whose answer was held back).
  int client_closes() const { return client_closes_.load(); }

  // Ends every held connection with an orderly close.
  void release_held();

 private:
  struct Connection;
  void run();
  void wake();
  bool read_from(Connection& c);
  bool write_to(Connection& c, std::chrono::steady_clock::time_point now);
  void finish(Connection& c, bool reset);

  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> release_held_{false};
  std::atomic<int> open_now_{0};
  std::atomic<int> open_peak_{0};
  std::atomic<int> client_closes_{0};

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  HttpHandler handler_;
  std::vector<HttpRequest> requests_;

  std::vector<std::unique_ptr<Connection>> connections_;  // server thread only
  std::thread thread_;
};

}  // namespace torvane::test
