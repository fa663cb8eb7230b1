// The FTP login through the exports against two peers on 127.0.0.1: a real
// pyftpdlib server (tests/support/ftp_server.py, started here) for the
// logins a real server accepts or refuses, and a scripted peer in this file
// for what a real server will not show on demand: a greeting held back
// between its lines, a huge greeting, a close in mid-reply, and the exact
// bytes of every command.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"
#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using torvane::load_acquire;

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// pyftpdlib in a child process: one user whose name and password are
// `login`. The launcher prints its port, then one line per login attempt.
class FtpServerProcess {
 public:
  explicit FtpServerProcess(const std::string& login)
      : log_(folder_ / "ftp_server.log"),
        process_({TORVANE_FTP_PYTHON, TORVANE_FTP_SERVER_SCRIPT, login, folder_.path()}, log_) {
    const std::string first = line_after("PORT ", 5s);
    if (!first.empty() && torvane::test::wait_port_open(std::atoi(first.c_str()), 5s))
      port_ = std::atoi(first.c_str());
  }

  int port() const { return port_; }

  // The rest of the first line after `prefix` that is new since the last
  // call, or "" at the deadline.
  std::string line_after(const std::string& prefix, std::chrono::milliseconds timeout) {
    std::string found;
    wait_for(
        [&] {
          const std::string log = torvane::test::read_file(log_).value_or("");
          for (auto at = log.find(prefix, seen_); at != std::string::npos;
               at = log.find(prefix, at + 1)) {
            const auto end = log.find('\n', at);
            if (end == std::string::npos) return false;
            seen_ = end + 1;
            found = log.substr(at + prefix.size(), end - at - prefix.size());
            return true;
          }
          return false;
        },
        timeout);
    return found;
  }

 private:
  torvane::test::TempDir folder_;
  std::string log_;
  torvane::test::ChildProcess process_;
  int port_ = 0;
  std::size_t seen_ = 0;
};

int listen_loopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int port_of(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// A loopback FTP peer that plays one connection: it sends the greeting in
// pieces with a pause between them, then answers USER with 331 and PASS with
// 230, recording every byte it receives.
class ScriptedFtpPeer {
 public:
  struct Script {
    std::vector<std::string> greeting;
    int pause_ms = 0;             // between greeting pieces
    bool close_after_greeting = false;
    int port = 0;                 // 0: any free port
  };

  explicit ScriptedFtpPeer(Script script) : script_(std::move(script)) {
    listen_fd_ = listen_loopback(script_.port);
    if (listen_fd_ >= 0) {
      port_ = port_of(listen_fd_);
      thread_ = std::thread([this] { run(); });
    }
  }
  ~ScriptedFtpPeer() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }

  bool ok() const { return listen_fd_ >= 0; }
  int port() const { return port_; }
  std::string received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Bytes that arrived before the last greeting piece was sent.
  std::size_t early_bytes() const { return early_bytes_.load(); }

 private:
  // Waits for `fd` to become readable, polling the stop flag; bounded.
  bool readable(int fd, Clock::time_point deadline) {
    while (!stop_.load() && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void run() {
    const auto deadline = Clock::now() + 10s;
    if (!readable(listen_fd_, deadline)) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string inbox;
    for (std::size_t i = 0; i < script_.greeting.size(); ++i) {
      if (i > 0 && script_.pause_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(script_.pause_ms));
      if (i + 1 == script_.greeting.size()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
          char chunk[512];
          const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
          if (n > 0) early_bytes_.store(static_cast<std::size_t>(n));
          if (n > 0) record(inbox, chunk, static_cast<std::size_t>(n));
        }
      }
      const std::string& piece = script_.greeting[i];
      ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
    }
    if (!script_.close_after_greeting) converse(fd, inbox, deadline);
    ::close(fd);
  }

  void record(std::string& inbox, const char* data, std::size_t n) {
    inbox.append(data, n);
    std::lock_guard<std::mutex> lock(mutex_);
    received_.append(data, n);
  }

  void converse(int fd, std::string& inbox, Clock::time_point deadline) {
    while (readable(fd, deadline)) {
      char chunk[512];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      record(inbox, chunk, static_cast<std::size_t>(n));
      for (auto end = inbox.find("\r\n"); end != std::string::npos; end = inbox.find("\r\n")) {
        const std::string line = inbox.substr(0, end);
        inbox.erase(0, end + 2);
        const char* reply = line.rfind("USER ", 0) == 0   ? "331 Password required.\r\n"
                            : line.rfind("PASS ", 0) == 0 ? "230 Logged in.\r\n"
                                                          : "500 Unknown.\r\n";
        ::send(fd, reply, std::strlen(reply), MSG_NOSIGNAL);
      }
    }
  }

  Script script_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> early_bytes_{0};
  mutable std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

// The layer with a few records, filled under the Stop handshake. Socket
// variables and texts live here, so they outlive tvnftp_end.
class FtpLogin : public ::testing::Test {
 protected:
  static constexpr int kRecords = 4;

  void SetUp() override {
    ctx_.wanted_count = kRecords;
    ctx_.wait_ms = 10;
    ASSERT_EQ(tvnftp_init(&ctx_, 0), 0);
    ASSERT_TRUE(wait_for([&] { return load_acquire(ctx_.record_count) >= kRecords; }, 3s));
  }

  void TearDown() override {
    if (ctx_.thread != nullptr) {
      EXPECT_EQ(tvnftp_end(&ctx_), 0);
    }
  }

  // Ends the layer; every socket it opened must be closed by then.
  void end_layer() {
    ASSERT_EQ(tvnftp_end(&ctx_), 0);
    for (int i = 0; i < kRecords; ++i) EXPECT_EQ(sockets_[i], -1) << "record " << i;
  }

  void start_record(int i, int port, const std::string& login) {
    torvane::set_bits(ctx_.thread_ctl, TVN_CTL_STOP);
    ASSERT_TRUE(wait_for([&] { return (load_acquire(ctx_.thread_ctl) & TVN_CTL_STOP_OK) != 0; }, 3s));
    TvnFtpConnection& record = ctx_.records[i];
    sockets_[i] = -1;
    record.conn.sockets = &sockets_[i];
    record.conn.host = texts_.emplace_back("127.0.0.1").data();
    record.conn.port = port;
    record.login = texts_.emplace_back(login).data();
    record.io_bits = TVN_FTP_IO_READY;
    torvane::clear_bits(ctx_.thread_ctl, TVN_CTL_STOP | TVN_CTL_STOP_OK);
  }

  std::uint32_t login_bits(int i) { return load_acquire(load_acquire(ctx_.records)[i].login_bits); }
  std::uint32_t io_bits(int i) { return load_acquire(load_acquire(ctx_.records)[i].io_bits); }
  bool failed(int i) { return (login_bits(i) & TVN_FTP_LOGIN_FAILED) != 0; }
  // PASS sent and its reply consumed; nothing left to do.
  bool logged_through(int i) {
    const std::uint32_t busy =
        TVN_FTP_IO_READY | TVN_FTP_IO_COMMAND_WAITING | TVN_FTP_IO_REPLY_AWAITED;
    return (login_bits(i) & TVN_FTP_LOGIN_PASS_SENT) && (io_bits(i) & busy) == 0;
  }
  bool settled(int i) { return failed(i) || logged_through(i); }
  // True when the connection holds bytes nobody read: a reply left behind
  // means the layer consumed an earlier one in its place. Only for a record
  // the thread no longer serves (logged through).
  bool reply_left_unread(int i) {
    char byte;
    return ::recv(sockets_[i], &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  TvnFtpContext ctx_{};
  std::int32_t sockets_[kRecords] = {-1, -1, -1, -1};
  std::deque<std::string> texts_;
};

TEST_F(FtpLogin, RealServerAcceptsTheLoginAndRefusesAWrongOne) {
  FtpServerProcess server("tester");
  if (server.port() <= 0) {
    if (torvane::test::peers_required()) FAIL() << "pyftpdlib did not start";
    GTEST_SKIP() << "pyftpdlib is not available to " << TORVANE_FTP_PYTHON;
  }
  start_record(0, server.port(), "tester");
  start_record(1, server.port(), "intruder");
  ASSERT_TRUE(wait_for([&] { return settled(0) && settled(1); }, 5s));
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(failed(i)) << "record " << i;
    EXPECT_TRUE(logged_through(i)) << "record " << i;
    std::this_thread::sleep_for(20ms);  // a reply still under way would arrive
    EXPECT_FALSE(reply_left_unread(i)) << "record " << i;
  }
  // The server's own word on both attempts, in whichever order they came.
  std::vector<std::string> lines = {server.line_after("LOGIN-", 3s), server.line_after("LOGIN-", 3s)};
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"FAILED intruder", "OK tester"}));
  end_layer();
}

TEST_F(FtpLogin, GreetingIsReadToItsFinalLineBeforeUser) {
  const std::string filler = "220-" + std::string(90, 'x') + "\r\n";
  std::string huge;  // several times the first reply buffer
  while (huge.size() < 3 * TVN_FTP_REPLY_CHUNK + 100) huge += filler;
  struct Case {
    const char* name;
    std::vector<std::string> greeting;
  };
  const Case cases[] = {
      {"multi-line", {"220-Welcome\r\n", "220-Second line\r\n", "220 Ready.\r\n"}},
      {"split inside the code", {"22", "0 Ready.\r\n"}},
      {"larger than the buffer", {huge, "220 Ready.\r\n"}},
  };
  for (int i = 0; i < 3; ++i) {
    const Case& c = cases[i];
    ScriptedFtpPeer peer({c.greeting, 150, false, 0});
    ASSERT_TRUE(peer.ok());
    start_record(i, peer.port(), "tester");
    ASSERT_TRUE(wait_for([&] { return settled(i); }, 5s)) << c.name;
    EXPECT_TRUE(logged_through(i)) << c.name;
    EXPECT_FALSE(reply_left_unread(i)) << c.name;
    EXPECT_EQ(peer.early_bytes(), 0u) << c.name << ": USER sent before the greeting ended";
    ASSERT_TRUE(wait_for([&] { return peer.received().size() >= 26; }, 2s)) << c.name;
    EXPECT_EQ(peer.received(), "USER tester\r\nPASS tester\r\n") << c.name;
  }
  end_layer();
}

TEST_F(FtpLogin, UnsafeOrOversizedLoginFailsWithoutSendingIt) {
  const std::string longest(TVN_FTP_COMMAND_CAPACITY - 8, 'l');
  struct Case {
    std::string login;
    bool accepted;
  };
  const Case cases[] = {
      {"bob\r\nDELE precious.txt", false},
      {"bob\nQUIT", false},
      {longest + "l", false},
      {longest, true},
  };
  for (int i = 0; i < 4; ++i) {
    const Case& c = cases[i];
    ScriptedFtpPeer peer({{"220 Ready.\r\n"}, 0, false, 0});
    ASSERT_TRUE(peer.ok());
    start_record(i, peer.port(), c.login);
    ASSERT_TRUE(wait_for([&] { return settled(i); }, 5s)) << i;
    EXPECT_EQ(failed(i), !c.accepted) << i;
    if (c.accepted) {
      const std::string expected = "USER " + c.login + "\r\nPASS " + c.login + "\r\n";
      ASSERT_TRUE(wait_for([&] { return peer.received().size() >= expected.size(); }, 2s));
      EXPECT_EQ(peer.received(), expected);
    } else {
      std::this_thread::sleep_for(30ms);
      EXPECT_EQ(peer.received(), "") << i;
    }
  }
  end_layer();
}

TEST_F(FtpLogin, PeerClosingInMidReplyFailsTheRecord) {
  ScriptedFtpPeer peer({{"220-Hello\r\n"}, 0, true, 0});
  ASSERT_TRUE(peer.ok());
  start_record(0, peer.port(), "tester");
  ASSERT_TRUE(wait_for([&] { return failed(0); }, 5s));
  EXPECT_FALSE(login_bits(0) & TVN_FTP_LOGIN_USER_SENT);
  end_layer();
}

TEST_F(FtpLogin, ClosedPortIsRetriedUntilAServerAppears) {
  const int port = torvane::test::free_loopback_port();
  ASSERT_GT(port, 0);

  start_record(0, port, "tester");
  // Several refused attempts: still connecting, never failed.
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(login_bits(0) & (TVN_FTP_LOGIN_FAILED | TVN_FTP_LOGIN_CONNECTED), 0u);
  EXPECT_TRUE(login_bits(0) & TVN_FTP_LOGIN_STARTED);

  ScriptedFtpPeer peer({{"220 Ready.\r\n"}, 0, false, port});
  ASSERT_TRUE(peer.ok()) << "port " << port << " was taken meanwhile";
  ASSERT_TRUE(wait_for([&] { return settled(0); }, 5s));
  EXPECT_TRUE(logged_through(0));
  EXPECT_EQ(peer.received(), "USER tester\r\nPASS tester\r\n");
  end_layer();
}

}  // namespace
