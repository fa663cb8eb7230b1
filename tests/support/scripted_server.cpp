// Test infrastructure: talks to the kernel directly (sockets, poll); the
// engine's own code goes through platform/ instead.
#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"

namespace torvane::test {
std::int64_t HttpRequest::range_start() const {
  const std::size_t at = raw.find("\nRange: bytes=");
  return at == std::string::npos ? -1 : std::strtoll(raw.c_str() + at + 14, nullptr, 10);
}

struct ScriptedServer::Connection {
  int fd = -1;
  std::string in{};
  HttpReply reply{};
  std::size_t sent = 0, limit = 0;
  bool answered = false, closed = false;
  std::chrono::steady_clock::time_point next_drip{};

  bool dripping() const { return reply.drip.count() > 0 && sent >= reply.head.size(); }
  // Where sending pauses for now: the end, a gate that is still closed, or
  // the next byte of a drip once its time has come.
  std::size_t due() const {
    const std::size_t until =
        reply.gate && !reply.gate->is_open() ? std::min(limit, reply.gate_at) : limit;
    if (!dripping()) return until;
    return std::min(until, std::chrono::steady_clock::now() >= next_drip ? sent + 1 : sent);
  }
  // Orderly close; unread input would turn the FIN into a reset, so it is
  // drained first.
  void finish() {
    if (closed) return;
    char scratch[4096];
    while (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) continue;
    ::close(fd);
    closed = true;
  }
  // Sends what is due, up to the gate, and closes after the last byte unless
  // the reply holds the connection.
  void write() {
    const std::size_t head = reply.head.size();
    for (std::size_t until; !closed && sent < (until = due());) {
      const std::string_view part =
          sent < head ? std::string_view(reply.head).substr(sent)
                      : std::string_view(*reply.body).substr(reply.body_offset + sent - head);
      const ssize_t n =
          ::send(fd, part.data(), std::min(part.size(), until - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      if (n < 0) finish();  // the client is gone
      if (n > 0 && dripping()) next_drip = std::chrono::steady_clock::now() + reply.drip;
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    if (!closed && sent >= limit && !reply.hold) finish();
  }
};

ScriptedServer::ScriptedServer(HttpHandler handler, bool any_bytes)
    : any_bytes_(any_bytes), handler_(std::move(handler)) {
  listen_fd_ = listen_loopback(port_, SOCK_NONBLOCK);
  // On failure port_ stays 0: every connection to url() is refused.
  if (listen_fd_ >= 0) thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  for (auto& c : connections_) c->finish();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

std::string ScriptedServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void ScriptedServer::set_handler(HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<HttpRequest> ScriptedServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::int64_t> ScriptedServer::get_starts(std::size_t from,
                                                     std::string_view target) const {
  std::vector<std::int64_t> starts;
  const std::vector<HttpRequest> all = requests();
  for (std::size_t i = from; i < all.size(); ++i)
    if (all[i].method == "GET" && (target.empty() || all[i].target == target))
      starts.push_back(std::max<std::int64_t>(all[i].range_start(), 0));
  std::sort(starts.begin(), starts.end());
  return starts;
}

bool ScriptedServer::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

// Reads what the client sent. False when the client closed or reset.
bool ScriptedServer::read_from(Connection& c) {
  char buf[16 * 1024];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (c.answered) continue;  // nothing after the request matters
    c.in.append(buf, static_cast<std::size_t>(n));
    // The request ends at the earliest CRLF CRLF or LF LF.
    const std::size_t crlf = c.in.find("\r\n\r\n"), lf = c.in.find("\n\n"),
                      none = std::string::npos;
    const std::size_t end =
        any_bytes_ ? c.in.size()
                   : std::min(crlf == none ? none : crlf + 4, lf == none ? none : lf + 2);
    if (end == none) continue;
    HttpRequest request{c.in.substr(0, end), {}, {}};
    std::istringstream(request.raw) >> request.method >> request.target;
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(request);
    const HttpHandler handler = handler_;
    lock.unlock();
    arrived_.notify_all();
    c.reply = handler ? handler(request) : HttpReply::raw("HTTP/1.0 404 Not Found\r\n\r\n");
    c.answered = true;
    c.limit = std::min(c.reply.send_limit, c.reply.head.size() + c.reply.body_size);
  }
}

void ScriptedServer::run() {
  std::vector<pollfd> fds;
  while (!stop_.load()) {
    fds.assign({pollfd{listen_fd_, POLLIN, 0}});
    for (auto& c : connections_) {
      // Writable matters only while bytes are due; a closed gate is looked
      // at again after the short poll.
      const bool sending = c->answered && c->sent < c->due();
      fds.push_back(pollfd{c->fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0});
    }
    // At most 5 ms before a stop or a gate is looked at again.
    if (::poll(fds.data(), fds.size(), 5) < 0 && errno != EINTR) break;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      Connection& c = *connections_[i - 1];
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && !read_from(c)) c.finish();
      if (c.answered) c.write();
    }
    std::erase_if(connections_, [](const auto& c) { return c->closed; });
    for (int fd; (fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
      connections_.emplace_back(new Connection{.fd = fd});
  }
}

UnansweredPort::UnansweredPort() {
  listen_fd_ = listen_loopback(port_);
  // A backlog of 0 still queues one connection; this one fills the queue.
  if (listen_fd_ < 0 || ::listen(listen_fd_, 0) != 0) return;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port_));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  filler_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (filler_fd_ < 0 || ::connect(filler_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    port_ = 0;
}

UnansweredPort::~UnansweredPort() {
  if (filler_fd_ >= 0) ::close(filler_fd_);
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

// Ready-made replies (http_replies.h).

std::string pattern_bytes(std::size_t size, std::uint32_t seed) {
  std::string out(size, '\0');
  // A cheap generator whose value also depends on the position: a shifted
  // copy of the file never matches the original.
  std::uint32_t x = seed * 2654435761u + 1u;
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>((x ^ static_cast<std::uint32_t>(i)) & 0xFF);
  }
  return out;
}

namespace {

// The status line and Content-Range of an answer from `start` (-1: the
// whole) of `size` bytes, or a 416 when the start is at or past the end.
std::optional<std::string> range_head(std::int64_t start, std::uint64_t size) {
  if (start < 0) return "HTTP/1.0 200 OK\r\n";
  if (static_cast<std::uint64_t>(start) >= size) return std::nullopt;
  return "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(start) + "-" +
         std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n";
}

HttpReply unsatisfiable(std::uint64_t size) {
  return status_reply(416, "Range Not Satisfiable", {},
                      {"Content-Range: bytes */" + std::to_string(size)});
}

}  // namespace

HttpReply resource_reply(const HttpRequest& request, std::shared_ptr<const std::string> content,
                         const ResourceOptions& options) {
  const std::size_t size = content->size();
  std::int64_t start = options.ignore_ranges ? -1 : request.range_start();
  const std::size_t if_range = request.raw.find("\nIf-Range: ");
  // A server that keeps no versions ignores If-Range, as HTTP asks of one
  // that does not support it (an ETag line a test adds by hand is not one).
  if (!options.validator.empty() && if_range != std::string::npos &&
      request.raw.compare(if_range + 11, options.validator.size() + 2,
                          options.validator + "\r\n") != 0)
    start = -1;  // another version than the one the client holds: all of this one
  std::optional<std::string> head = range_head(start, size);
  if (!head) return unsatisfiable(size);
  const std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
  if (!options.omit_length) *head += "Content-Length: " + std::to_string(size - from) + "\r\n";
  if (!options.validator.empty())
    *head +=
        (options.validator[0] == '"' ? "ETag: " : "Last-Modified: ") + options.validator + "\r\n";
  return {.head = *head + "Connection: close\r\n\r\n",
          .body = std::move(content),
          .body_offset = from,
          .body_size = request.method == "HEAD" ? 0 : size - from};
}

std::string announced_bytes(std::uint64_t offset, std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t at = offset + i;
    bytes[i] = static_cast<char>(at ^ (at >> 11) ^ (at >> 32) * 131);
  }
  return bytes;
}

HttpReply announced_reply(const HttpRequest& request, std::uint64_t size, std::size_t slice) {
  const std::int64_t start = request.range_start();
  const std::uint64_t from = start < 0 ? 0 : static_cast<std::uint64_t>(start);
  std::optional<std::string> head = range_head(start, size);
  if (!head) return unsatisfiable(size);
  *head += "Content-Length: " + std::to_string(size - from) + "\r\n\r\n";
  if (request.method == "HEAD") return HttpReply::raw(std::move(*head));
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(slice, size - from));
  return {.head = std::move(*head),
          .body = std::make_shared<const std::string>(announced_bytes(from, n)),
          .body_size = n,
          .hold = true};
}

HttpHandler serve_resource(std::shared_ptr<const std::string> content, ResourceOptions options) {
  return [content = std::move(content), options](const HttpRequest& request) {
    return resource_reply(request, content, options);
  };
}

HttpReply held(HttpReply reply, std::shared_ptr<Gate> gate, std::size_t body_bytes) {
  reply.gate = std::move(gate);
  reply.gate_at = reply.head.size() + body_bytes;
  return reply;
}

HttpReply status_reply(int code, std::string_view reason, std::string_view body,
                       const std::vector<std::string>& headers) {
  std::string head = "HTTP/1.0 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
  for (const std::string& line : headers) head += line + "\r\n";
  return HttpReply::raw(head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                        std::string(body));
}

std::string chunked_body(std::string_view payload, std::size_t chunk) {
  std::string out;
  char size_line[32];
  for (std::size_t at = 0; at < payload.size(); at += chunk) {
    const std::size_t n = std::min(chunk, payload.size() - at);
    std::snprintf(size_line, sizeof size_line, "%zx;part=%zu\r\n", n, at / chunk);
    out.append(size_line).append(payload.substr(at, n)).append("\r\n");
  }
  return out + "0\r\nX-Checksum: none\r\n\r\n";
}

HttpReply redirect_reply(int code, std::string_view location, std::string_view header_name) {
  return status_reply(code, "Moved", "moved\n",
                      {std::string(header_name) + ": " + std::string(location)});
}

}  // namespace torvane::test
