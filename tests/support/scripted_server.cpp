// Test infrastructure: talks to the kernel directly (sockets, poll, a pipe
// for wake-ups); the engine's own code goes through platform/ instead.
#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace torvane::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSendStep = 64 * 1024;
constexpr int kIdlePollMs = 50;
constexpr int kGatePollMs = 5;

// End of the request header: the earliest CRLF CRLF or LF LF, as a count of
// bytes including the terminator; 0 while incomplete.
std::size_t header_end(const std::string& in) {
  const std::size_t crlf = in.find("\r\n\r\n");
  const std::size_t lf = in.find("\n\n");
  std::size_t end = std::string::npos;
  if (crlf != std::string::npos) end = crlf + 4;
  if (lf != std::string::npos && lf + 2 < end) end = lf + 2;
  return end == std::string::npos ? 0 : end;
}

HttpRequest parse_request(std::string raw, int index) {
  HttpRequest r;
  r.index = index;
  r.raw = std::move(raw);
  const std::size_t line_end = r.raw.find('\n');
  const std::string line = r.raw.substr(0, line_end);
  const std::size_t sp1 = line.find(' ');
  if (sp1 != std::string::npos) {
    r.method = line.substr(0, sp1);
    const std::size_t sp2 = line.find(' ', sp1 + 1);
    r.target = line.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
  }
  return r;
}

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::string HttpRequest::header(std::string_view name) const {
  std::size_t pos = raw.find('\n');
  while (pos != std::string::npos && pos + 1 < raw.size()) {
    const std::size_t begin = pos + 1;
    const std::size_t end = raw.find('\n', begin);
    std::string_view line(raw.data() + begin, (end == std::string::npos ? raw.size() : end) - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon == name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      return std::string(value);
    }
    pos = end;
  }
  return {};
}

bool HttpRequest::has_header(std::string_view name) const {
  const std::string needle = "\n" + std::string(name) + ":";
  std::string lower_raw = raw, lower_needle = needle;
  for (char& ch : lower_raw) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  for (char& ch : lower_needle) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return lower_raw.find(lower_needle) != std::string::npos;
}

std::int64_t HttpRequest::range_start() const {
  const std::string value = header("Range");
  if (value.rfind("bytes=", 0) != 0) return -1;
  char* end = nullptr;
  const long long start = std::strtoll(value.c_str() + 6, &end, 10);
  if (end == value.c_str() + 6 || *end != '-' || start < 0) return -1;
  return start;
}

std::int64_t HttpRequest::range_end() const {
  if (range_start() < 0) return -1;
  const std::string value = header("Range");
  const std::size_t dash = value.find('-');
  if (dash + 1 >= value.size()) return -1;
  char* end = nullptr;
  const long long last = std::strtoll(value.c_str() + dash + 1, &end, 10);
  return end == value.c_str() + dash + 1 ? -1 : last;
}

HttpReply HttpReply::raw(std::string bytes, Ending ending) {
  HttpReply reply;
  reply.head = std::move(bytes);
  reply.ending = ending;
  return reply;
}

HttpReply HttpReply::silence() {
  HttpReply reply;
  reply.ending = Ending::kHold;
  return reply;
}

struct ScriptedServer::Connection {
  int fd = -1;
  std::string in;
  bool answered = false;
  HttpReply reply;
  std::size_t sent = 0;
  std::size_t limit = 0;
  Clock::time_point next_step{};
  bool holding = false;  // everything sent, kept open by Ending::kHold
  bool closed = false;
};

ScriptedServer::ScriptedServer(HttpHandler handler) : handler_(std::move(handler)) {
  if (::pipe2(wake_pipe_, O_NONBLOCK | O_CLOEXEC) != 0) return;
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return;
  const int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listen_fd_, SOMAXCONN) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    close_fd(listen_fd_);
    return;
  }
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_.store(true);
  wake();
  if (thread_.joinable()) thread_.join();
  for (auto& c : connections_) close_fd(c->fd);
  close_fd(listen_fd_);
  close_fd(wake_pipe_[0]);
  close_fd(wake_pipe_[1]);
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

std::size_t ScriptedServer::request_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

bool ScriptedServer::wait_for_requests(std::size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= n; });
}

void ScriptedServer::release_held() {
  release_held_.store(true);
  wake();
}

void ScriptedServer::wake() {
  if (wake_pipe_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_pipe_[1], &byte, 1);
  }
}

void ScriptedServer::finish(Connection& c, bool reset) {
  if (c.closed) return;
  if (reset) {
    const linger hard{1, 0};
    ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  } else {
    // Unread input at close turns the FIN into a reset; drain it first.
    char scratch[4096];
    while (::recv(c.fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
    ::shutdown(c.fd, SHUT_WR);
  }
  close_fd(c.fd);
  c.closed = true;
  open_now_.fetch_sub(1);
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
    const std::size_t end = header_end(c.in);
    if (end == 0) continue;
    HttpRequest request;
    HttpHandler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      request = parse_request(c.in.substr(0, end), static_cast<int>(requests_.size()));
      requests_.push_back(request);
      handler = handler_;
    }
    arrived_.notify_all();
    c.reply = handler ? handler(request) : HttpReply::raw("HTTP/1.0 404 Not Found\r\n\r\n");
    c.answered = true;
    c.limit = std::min(c.reply.send_limit, c.reply.total());
    c.next_step = Clock::now();
  }
}

// Sends what is due. False when the connection ended.
bool ScriptedServer::write_to(Connection& c, Clock::time_point now) {
  while (!c.holding) {
    if (c.sent >= c.limit) {
      switch (c.reply.ending) {
        case HttpReply::Ending::kClose:
          finish(c, false);
          return false;
        case HttpReply::Ending::kReset:
          finish(c, true);
          return false;
        case HttpReply::Ending::kHold:
          c.holding = true;
          return true;
      }
    }
    std::size_t stop_at = c.limit;
    if (c.reply.gate && !c.reply.gate->is_open() && c.sent <= c.reply.gate_at)
      stop_at = std::min(stop_at, c.reply.gate_at);
    if (c.sent >= stop_at) return true;
    if (c.reply.interval_ms > 0 && now < c.next_step) return true;
    std::size_t n = std::min(stop_at - c.sent, c.reply.chunk > 0 ? c.reply.chunk : kSendStep);
    const char* from;
    if (c.sent < c.reply.head.size()) {
      from = c.reply.head.data() + c.sent;
      n = std::min(n, c.reply.head.size() - c.sent);
    } else {
      from = c.reply.body->data() + c.reply.body_offset + (c.sent - c.reply.head.size());
    }
    const ssize_t r = ::send(c.fd, from, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
      client_closes_.fetch_add(1);
      finish(c, false);
      return false;
    }
    c.sent += static_cast<std::size_t>(r);
    if (c.reply.interval_ms > 0) {
      c.next_step = now + std::chrono::milliseconds(c.reply.interval_ms);
      return true;
    }
  }
  return true;
}

void ScriptedServer::run() {
  std::vector<pollfd> fds;
  while (!stop_.load()) {
    const auto now = Clock::now();
    int timeout = kIdlePollMs;
    fds.assign({pollfd{wake_pipe_[0], POLLIN, 0}, pollfd{listen_fd_, POLLIN, 0}});
    for (auto& c : connections_) {
      short events = POLLIN;
      if (c->answered && !c->holding) {
        const bool gated = c->reply.gate && !c->reply.gate->is_open() && c->sent >= c->reply.gate_at &&
                           c->sent < c->limit;
        if (gated) {
          timeout = std::min(timeout, kGatePollMs);
        } else if (c->reply.interval_ms > 0 && now < c->next_step) {
          const auto left = std::chrono::ceil<std::chrono::milliseconds>(c->next_step - now).count();
          timeout = std::min(timeout, static_cast<int>(std::max<long long>(left, 1)));
        } else {
          events |= POLLOUT;
        }
      }
      fds.push_back(pollfd{c->fd, events, 0});
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (::read(wake_pipe_[0], drain, sizeof drain) > 0) {
      }
    }
    if (fds[1].revents & POLLIN) {
      for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        connections_.push_back(std::move(c));
        const int open = open_now_.fetch_add(1) + 1;
        int peak = open_peak_.load();
        while (open > peak && !open_peak_.compare_exchange_weak(peak, open)) {
        }
      }
    }
    const auto after = Clock::now();
    const bool release = release_held_.exchange(false);
    // Connections accepted in this pass have no poll entry yet.
    for (std::size_t i = 0; i + 2 < fds.size(); ++i) {
      Connection& c = *connections_[i];
      const short rev = fds[i + 2].revents;
      if (rev & (POLLIN | POLLHUP | POLLERR)) {
        if (!read_from(c)) {
          client_closes_.fetch_add(1);
          finish(c, false);
          continue;
        }
      }
      if (c.answered && !c.closed) write_to(c, after);
      if (release && c.holding && !c.closed) finish(c, false);
    }
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const auto& c) { return c->closed; }),
                       connections_.end());
  }
}

}  // namespace torvane::test
