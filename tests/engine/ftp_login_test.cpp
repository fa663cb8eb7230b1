// The FTP layer through the exports: its thread's life and logins on
// 127.0.0.1 against the test itself as the server.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/real_peers.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

constexpr auto& wait_for = EngineHarness::wait_until;

std::atomic<int> notices, end_in_notice_result;
std::atomic<bool> done_seen;

int on_notice(TvnFtpContext* ctx, int code, int, int, void*) {
  EXPECT_EQ(code, TVN_NOTICE_RESIZED);
  done_seen = (load_acquire(ctx->resize_ctl) & TVN_RESIZE_DONE) != 0;
  // A request for one record makes the notice try to end the layer.
  if (load_acquire(ctx->wanted_count) == 1) end_in_notice_result = tvnftp_end(ctx);
  ++notices;
  return 0;
}

// Plays the server on the next connection: the greeting pieces 100 ms apart,
// then, unless it hangs up, 331 and 230 to the first two lines it receives.
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

// The layer with records filled under the Stop handshake; sockets and texts
// live here, so they outlive tvnftp_end, which must close every socket.
class FtpLogin : public testing::Test {
 protected:
  static constexpr int kRecords = 5;
  void SetUp() override {
    const timeval limit{5, 0};  // bounds accept and, on the accepted socket, recv
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in sa{AF_INET, htons(static_cast<std::uint16_t>(port_)), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);  // not listening
    notices = 0;
    ASSERT_EQ(tvnftp_init(&ctx_, 0), 0);
    ASSERT_TRUE(wait_for([] { return notices == 1; }, 3s));
  }
  void TearDown() override {
    ::close(listener_);
    EXPECT_EQ(tvnftp_end(&ctx_), 0);
    for (int i = 0; i < kRecords; ++i) EXPECT_EQ(sockets_[i], -1) << "record " << i;
  }
  void start(int i, int port, const std::string& login) {
    set_bits(ctx_.thread_ctl, TVN_CTL_STOP);
    ASSERT_TRUE(wait_for([&] { return load_acquire(ctx_.thread_ctl) & TVN_CTL_STOP_OK; }, 3s));
    ctx_.records[i].conn = {&sockets_[i], host_, port, nullptr, {}};
    ctx_.records[i].login = (logins_[i] = login).data();
    ctx_.records[i].io_bits = TVN_FTP_IO_READY;
    clear_bits(ctx_.thread_ctl, TVN_CTL_STOP | TVN_CTL_STOP_OK);
  }
  std::uint32_t bits(int i) { return load_acquire(ctx_.records[i].login_bits); }
  // PASS sent and its reply consumed: nothing waits to be sent or read.
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
  std::int32_t sockets_[kRecords] = {-1, -1, -1, -1, -1};
  int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int port_ = free_loopback_port();
  char host_[10] = "127.0.0.1";
  std::string logins_[kRecords];
};

TEST_F(FtpLogin, ThreadLife) {
  EXPECT_EQ(tvnftp_init(&ctx_, 0), -1) << "a second thread on the same table";
  EXPECT_TRUE(done_seen);
  EXPECT_EQ(load_acquire(ctx_.record_count), kRecords + 10);
  // The layer cannot end from its own thread; TearDown's call from outside can.
  store_release(ctx_.wanted_count, 1);
  set_bits(ctx_.resize_ctl, TVN_RESIZE_REQUEST);
  ASSERT_TRUE(wait_for([] { return notices == 2; }, 3s));
  EXPECT_EQ(end_in_notice_result, -1);
}

// Refused connects are retried until the peer listens; a split greeting (CRLF or bare LF
// lines) is read whole before USER; an injecting or oversized login is never sent.
TEST_F(FtpLogin, ScriptedPeerSeesExactlyTheLoginLines) {
  // Greeting pieces and login; only the first logs in, the last peer hangs up.
  const std::pair<std::vector<std::string>, std::string> rows[kRecords] = {
      {{"220-Welcome\r\n", "220-Second line\r\n", "220 Ready.\r\n"}, "tester"},
      {{"220 Ready.\r\n"}, std::string(TVN_FTP_COMMAND_CAPACITY - 7, 'l')},
      {{"220-Welcome\n\n", "220 Ready.\n"}, "bob\rDELE precious.txt"},
      {{"220 Ready.\r\n"}, "bob\nQUIT"},
      {{"220-Hello\r\n"}, "tester"},
  };
  start(0, port_, rows[0].second);
  std::this_thread::sleep_for(200ms);  // several refused attempts
  EXPECT_EQ(bits(0) & (TVN_FTP_LOGIN_FAILED | TVN_FTP_LOGIN_CONNECTED), 0u);
  ASSERT_EQ(::listen(listener_, 1), 0);
  for (int i = 0; i < kRecords; ++i) {
    const auto& [greeting, login] = rows[i];
    if (i > 0) start(i, port_, login);
    const std::string sent = serve(listener_, greeting, i == kRecords - 1);
    ASSERT_TRUE(wait_for([&] { return (bits(i) & TVN_FTP_LOGIN_FAILED) || logged_through(i); }, 5s))
        << i;
    EXPECT_EQ((bits(i) & TVN_FTP_LOGIN_FAILED) == 0, i == 0) << i;
    EXPECT_EQ(sent, i == 0 ? "USER " + login + "\r\nPASS " + login + "\r\n" : "") << i;
    EXPECT_FALSE(reply_left_unread(i)) << i;
  }
}

}  // namespace
}  // namespace torvane::test
