// What the nginx peers in https_test cannot show, against a small in-test TLS
// server: a rejected certificate's exact reason after a single connection, and
// a redirect from https to plain http said once.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(10);

// Answers every request on 127.0.0.1 with `body` whole (no ranges), over TLS
// with the given certificate; counts the connections it accepted.
class TinyTlsServer {
 public:
  // With `location`, every answer is a 302 to it instead.
  TinyTlsServer(const std::string& cert, const std::string& key, std::string body,
                std::string location = "")
      : body_(std::move(body)), location_(std::move(location)) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_file(ctx_, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) != 1)
      return;
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
      return;
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~TinyTlsServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (std::thread& worker : workers_) worker.join();
    if (fd_ >= 0) ::close(fd_);
    SSL_CTX_free(ctx_);
  }
  TinyTlsServer(const TinyTlsServer&) = delete;
  TinyTlsServer& operator=(const TinyTlsServer&) = delete;

  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/f"; }
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      ++connections_;
      // One thread per connection: divisions connect at once.
      workers_.emplace_back([this, client] {
        timeval limit{2, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        SSL* ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, client);
        if (SSL_accept(ssl) == 1) serve(ssl);
        SSL_free(ssl);
        ::close(client);
      });
    }
  }
  void serve(SSL* ssl) {
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int got = SSL_read(ssl, chunk, sizeof chunk);
      if (got <= 0) return;
      request.append(chunk, static_cast<std::size_t>(got));
    }
    const std::string reply =
        location_.empty()
            ? "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body_.size()) + "\r\n\r\n" +
                  (request.rfind("HEAD", 0) == 0 ? "" : body_)
            : "HTTP/1.0 302 Found\r\nLocation: " + location_ + "\r\nContent-Length: 0\r\n\r\n";
    if (SSL_write(ssl, reply.data(), static_cast<int>(reply.size())) > 0) SSL_shutdown(ssl);
  }

  std::string body_, location_;
  SSL_CTX* ctx_ = nullptr;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::vector<std::thread> workers_;
};

// Test certificates with OpenSSL pointed at their CA, and a harness that
// keeps the failure reasons it was told.
class TlsConnection : public testing::Test {
 protected:
  void SetUp() override {
    if (TestCerts::program().empty()) GTEST_SKIP() << "no openssl program";
    ASSERT_TRUE(certs_.ok()) << certs_.error();
    ::setenv("SSL_CERT_FILE", certs_.ca_file().c_str(), 1);
    make_engine();
  }
  void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }
  void make_engine() {
    e_.reset();
    messages_.clear();
    e_ = std::make_unique<EngineHarness>(1);
    e_->answer(TVN_NOTICE_MESSAGE, [this](EngineContext*, int, int, void* data) {
      const std::lock_guard<std::mutex> lock(mutex_);
      messages_.emplace_back(static_cast<const char*>(data));
      return 0;
    });
  }
  // Ends the engine, then gives what it said.
  std::vector<std::string> end() {
    e_->end();
    const std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

  TempDir dir_;
  TestCerts certs_{dir_.path() + "/certs"};
  std::unique_ptr<EngineHarness> e_;
  std::mutex mutex_;
  std::vector<std::string> messages_;
};

// A rejected certificate fails the item after one connection, with
// OpenSSL's reason and the host; no attempt is spent on it again.
TEST_F(TlsConnection, ARejectedCertificateFailsAfterOneConnectionWithItsReason) {
  const struct {
    TestCerts::Kind kind;
    const char* reason;
  } rows[] = {{TestCerts::kUnknownCa, "unable to get local issuer certificate"},
              {TestCerts::kWrongHost, "IP address mismatch"},
              {TestCerts::kExpired, "certificate has expired"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reason);
    TinyTlsServer server(certs_.cert_file(row.kind), certs_.key_file(row.kind), "body");
    ASSERT_NE(server.port(), 0);
    make_engine();
    const int slot = e_->start({.url = server.url(), .save_path = dir_ / "out.bin"});
    ASSERT_GE(slot, 0);
    EXPECT_EQ(e_->wait_final(slot, kDeadline), TVN_NOTICE_FAILED);
    EXPECT_EQ(end(), std::vector<std::string>{std::string("certificate verify failed: ") +
                                              row.reason + " (127.0.0.1)"});
    EXPECT_EQ(server.connections(), 1);
  }
}

TEST_F(TlsConnection, FollowsARedirectToHttpAndSaysSo) {
  const auto body = std::make_shared<const std::string>(pattern_bytes(70000, 3));
  ScriptedServer plain;
  plain.set_handler([&](const HttpRequest& r) { return resource_reply(r, body); });
  TinyTlsServer server(certs_.cert_file(TestCerts::kGood), certs_.key_file(TestCerts::kGood), "",
                       plain.url("/f"));
  ASSERT_NE(server.port(), 0);
  const std::string out = dir_ / "out.bin";
  const int slot = e_->start({.url = server.url(), .save_path = out, .div_count = 2});
  ASSERT_GE(slot, 0);
  EXPECT_EQ(e_->wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
  EXPECT_EQ(end(), std::vector<std::string>{"redirected from https:// to an unencrypted URL: " +
                                            plain.url("/f")});
  EXPECT_EQ(read_file(out), *body);
}

}  // namespace
}  // namespace torvane::test
