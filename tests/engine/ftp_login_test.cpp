// The FTP layer through the exports: its thread's life (init, the Stop
// handshake, table growth with notice 201, end), and the login against peers
// on 127.0.0.1: pyftpdlib (tests/support/ftp_server.py) for the logins a real
// server accepts or refuses, the test itself as a server for a greeting held
// back between its pieces, a close in mid-reply and the exact command bytes.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"
#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace {

using namespace std::chrono_literals;
using namespace torvane::test;
using torvane::load_acquire;

template <class Done>
bool wait_for(Done done, std::chrono::milliseconds timeout = 3s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  return done();
}

std::atomic<int> notices, end_in_notice_result;
std::atomic<bool> done_seen;

int on_notice(TvnFtpContext* ctx, int code, int, int, void*) {
  EXPECT_EQ(code, TVN_NOTICE_RESIZED);
  done_seen = (load_acquire(ctx->resize_ctl) & TVN_RESIZE_DONE) != 0;
  // A request for one record makes the notice try to end the layer from its own thread.
  if (load_acquire(ctx->wanted_count) == 1) end_in_notice_result = tvnftp_end(ctx);
  ++notices;
  return 0;
}

// Plays the server on the next connection to `listener`: the greeting pieces
// 100 ms apart, then, unless it hangs up, 331 to the first line and 230 to the
// second. Returns the bytes received.
std::string serve(int listener, const std::vector<std::string>& greeting, bool hang_up) {
  const int fd = ::accept(listener, nullptr, nullptr);  // inherits the listener's time limit
  for (const std::string& piece : greeting) {
    std::this_thread::sleep_for(100ms);
    ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
  }
  std::string received;
  char c;
  for (int lines = 0; !hang_up && lines < 2 && ::recv(fd, &c, 1, 0) == 1;) {
    received += c;
    if (c != '\n') continue;
    const char* reply = ++lines == 1 ? "331 Send PASS.\r\n" : "230 Logged in.\r\n";
    ::send(fd, reply, std::strlen(reply), MSG_NOSIGNAL);
  }
  ::close(fd);
  return received;
}

// The layer with records filled under the Stop handshake; socket variables
// and texts live here, so they outlive tvnftp_end.
class FtpLogin : public ::testing::Test {
 protected:
  static constexpr int kRecords = 7;
  void SetUp() override {
    const timeval limit{5, 0};  // bounds accept and, on the accepted socket, recv
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in sa{AF_INET, htons(static_cast<std::uint16_t>(port_)), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener_, 1), 0);
    notices = 0;
    ASSERT_EQ(tvnftp_init(&ctx_, 0), 0);
    ASSERT_TRUE(wait_for([] { return notices == 1; }));
  }
  void TearDown() override {  // every socket the layer opened is closed by its end
    ::close(listener_);
    EXPECT_EQ(tvnftp_end(&ctx_), 0);
    EXPECT_EQ(ctx_.thread_ctl & (TVN_CTL_END_OK | TVN_CTL_END_FAIL), std::uint32_t{TVN_CTL_END_OK});
    for (int i = 0; i < kRecords; ++i) EXPECT_EQ(sockets_[i], -1) << "record " << i;
  }
  void pause() {
    torvane::set_bits(ctx_.thread_ctl, TVN_CTL_STOP);
    ASSERT_TRUE(wait_for([&] { return load_acquire(ctx_.thread_ctl) & TVN_CTL_STOP_OK; }));
  }
  void resume() { torvane::clear_bits(ctx_.thread_ctl, TVN_CTL_STOP | TVN_CTL_STOP_OK); }
  void resize(int wanted) {
    torvane::store_release(ctx_.wanted_count, wanted);
    torvane::set_bits(ctx_.resize_ctl, TVN_RESIZE_REQUEST);
  }
  void start(int i, int port, const std::string& login) {
    pause();
    TvnFtpConnection& record = ctx_.records[i];
    record.conn = {&sockets_[i], host_, port, nullptr, {}};
    record.login = (logins_[i] = login).data();
    record.io_bits = TVN_FTP_IO_READY;
    resume();
  }
  std::uint32_t bits(int i) { return load_acquire(ctx_.records[i].login_bits); }
  // PASS sent and its reply consumed: no step is waiting, nothing to send or read.
  bool logged_through(int i) {
    return (bits(i) & TVN_FTP_LOGIN_PASS_SENT) && load_acquire(ctx_.records[i].io_bits) == 0;
  }
  // Bytes nobody read: the layer took an earlier reply for the one left.
  bool reply_left_unread(int i) {
    std::this_thread::sleep_for(20ms);  // a reply under way arrives
    char byte;
    return ::recv(sockets_[i], &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }

  TvnFtpContext ctx_{kRecords, 0, on_notice, /*wait_ms*/ 10, 0, nullptr, 0, 0, nullptr};
  std::int32_t sockets_[kRecords] = {-1, -1, -1, -1, -1, -1, -1};
  int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int port_ = free_loopback_port();
  char host_[10] = "127.0.0.1";
  std::string logins_[kRecords];
};

TEST_F(FtpLogin, ThreadLife) {
  TvnFtpContext idle{};
  EXPECT_EQ(tvnftp_init(&idle, 1), -1);
  EXPECT_EQ(idle.thread, nullptr);
  EXPECT_EQ(tvnftp_init(&ctx_, 0), -1) << "a second thread on the same table";
  EXPECT_TRUE(done_seen);
  EXPECT_EQ(load_acquire(ctx_.record_count), kRecords + 10);
  pause();  // a paused thread handles no request until Stop and StopOK are both clear
  resize(5);
  std::this_thread::sleep_for(40ms);
  EXPECT_EQ(notices, 1);
  resume();
  ASSERT_TRUE(wait_for([] { return notices == 2; }));
  EXPECT_TRUE(done_seen);
  // The table never shrinks; a count it cannot hold fails and is given back.
  resize(INT_MAX);
  ASSERT_TRUE(wait_for([] { return notices == 3; }));
  EXPECT_FALSE(done_seen);
  EXPECT_EQ(load_acquire(ctx_.record_count), kRecords + 10);
  EXPECT_EQ(load_acquire(ctx_.wanted_count), kRecords + 10);
  // The layer cannot end from its own thread; TearDown's call from outside can.
  resize(1);
  ASSERT_TRUE(wait_for([] { return notices == 4; }));
  EXPECT_EQ(end_in_notice_result, -1);
}

// A closed port is retried, never failed, until the server appears; then one
// login is accepted (230) and a wrong one refused (530), both replies consumed.
TEST_F(FtpLogin, RealServerAfterAClosedPort) {
  TempDir folder;
  const int port = free_loopback_port();
  const std::string log = folder.path() + "/server.log";
  start(0, port, "tester");
  std::this_thread::sleep_for(200ms);  // several refused attempts
  EXPECT_EQ(bits(0) & (TVN_FTP_LOGIN_FAILED | TVN_FTP_LOGIN_CONNECTED), 0u);
  EXPECT_TRUE(bits(0) & TVN_FTP_LOGIN_STARTED);
  ChildProcess server({TORVANE_FTP_PYTHON, TORVANE_FTP_SERVER_SCRIPT, "tester", folder.path(),
                       std::to_string(port)},
                      log);
  if (!wait_port_open(port, 5s)) {
    if (peers_required()) FAIL() << "pyftpdlib did not start";
    GTEST_SKIP() << "pyftpdlib is not available to " << TORVANE_FTP_PYTHON;
  }
  start(1, port, "intruder");
  ASSERT_TRUE(wait_for([&] { return logged_through(0) && logged_through(1); }, 5s));
  EXPECT_FALSE(reply_left_unread(0) || reply_left_unread(1));
  EXPECT_TRUE(wait_for([&] {  // the server's own word on both attempts
    const std::string text = read_file(log).value_or("");
    return text.find("LOGIN-OK tester\n") != text.npos &&
           text.find("LOGIN-FAILED intruder\n") != text.npos;
  })) << read_file(log).value_or("");
}

// A greeting in pieces is read to its final line before USER; a login that
// would inject a command or not fit is never sent; a close in mid-reply fails.
TEST_F(FtpLogin, ScriptedPeerSeesExactlyTheLoginLines) {
  const std::string longest(TVN_FTP_COMMAND_CAPACITY - 8, 'l');
  std::string huge;  // several times the first reply buffer
  while (huge.size() < 3 * TVN_FTP_REPLY_CHUNK) huge += "220-" + std::string(90, 'x') + "\r\n";
  struct Row {
    std::vector<std::string> greeting;
    std::string login;
    bool logs_in, hang_up = false;
  };
  const Row rows[kRecords] = {
      {{"220-Welcome\r\n", "220-Second line\r\n", "220 Ready.\r\n"}, "tester", true},
      {{huge, "220 Ready.\r\n"}, "tester", true},
      {{"220 Ready.\r\n"}, longest, true},
      {{"220 Ready.\r\n"}, longest + "l", false},
      {{"220 Ready.\r\n"}, "bob\rDELE precious.txt", false},
      {{"220 Ready.\r\n"}, "bob\nQUIT", false},
      {{"220-Hello\r\n"}, "tester", false, true},
  };
  for (int i = 0; i < kRecords; ++i) {
    const Row& row = rows[i];
    start(i, port_, row.login);
    const std::string sent = serve(listener_, row.greeting, row.hang_up);
    ASSERT_TRUE(wait_for([&] { return (bits(i) & TVN_FTP_LOGIN_FAILED) || logged_through(i); }, 5s))
        << i;
    EXPECT_EQ((bits(i) & TVN_FTP_LOGIN_FAILED) == 0, row.logs_in) << i;
    EXPECT_EQ(sent, row.logs_in ? "USER " + row.login + "\r\nPASS " + row.login + "\r\n" : "") << i;
    EXPECT_FALSE(reply_left_unread(i)) << i;
  }
}

}  // namespace
