// Downloads over TLS from a small in-test server: the handshake driven by the
// connection thread, the body read through the session, and a certificate
// that does not pass failing the item at once with its reason.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certs.h"
#include "tests/support/test_files.h"
#include "tests/support/tls_fault_server.h"

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

  // Answers ranged requests with 206 from then on.
  void take_ranges() { ranges_ = true; }
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
    // "Range: bytes=N-" gets its 206 when the server takes ranges.
    const std::size_t range = request.find("Range: bytes=");
    const std::size_t from =
        ranges_ && range != std::string::npos ? std::stoul(request.substr(range + 13)) : 0;
    std::string reply = from == 0
                            ? "HTTP/1.0 200 OK\r\n"
                            : "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " +
                                  std::to_string(from) + "-" + std::to_string(body_.size() - 1) +
                                  "/" + std::to_string(body_.size()) + "\r\n";
    if (ranges_) reply += "Accept-Ranges: bytes\r\n";
    reply += "Content-Length: " + std::to_string(body_.size() - from) + "\r\n\r\n";
    if (request.rfind("HEAD", 0) != 0) reply += body_.substr(from);
    if (!location_.empty())
      reply = "HTTP/1.0 302 Found\r\nLocation: " + location_ + "\r\nContent-Length: 0\r\n\r\n";
    for (std::size_t at = 0; at < reply.size();) {
      // Small records: most reads find bytes left in the session.
      const int sent = SSL_write(ssl, reply.data() + at,
                                 static_cast<int>(std::min<std::size_t>(reply.size() - at, 3000)));
      if (sent <= 0) return;
      at += static_cast<std::size_t>(sent);
    }
    SSL_shutdown(ssl);
  }

  std::string body_, location_;
  std::atomic<bool> ranges_{false};
  SSL_CTX* ctx_ = nullptr;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::vector<std::thread> workers_;
};

// An HTTP proxy that opens CONNECT tunnels to loopback ports (or, with
// `refuse`, answers 403 to every CONNECT), one client at a time. It keeps
// the request lines it was sent.
class TinyTunnelProxy {
 public:
  explicit TinyTunnelProxy(bool refuse) : refuse_(refuse) {
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
  ~TinyTunnelProxy() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  TinyTunnelProxy(const TinyTunnelProxy&) = delete;
  TinyTunnelProxy& operator=(const TinyTunnelProxy&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> lines() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      serve(client);
      ::close(client);
    }
  }
  void serve(int client) {
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(client, &c, 1, 0) == 1) head += c;
    const std::string line = head.substr(0, head.find("\r\n"));
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    }
    const std::size_t colon = line.rfind(':');
    const int port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
    if (refuse_ || line.rfind("CONNECT 127.0.0.1:", 0) != 0 || port == 0) {
      const std::string no = "HTTP/1.0 403 Forbidden\r\n\r\n";
      ::send(client, no.data(), no.size(), MSG_NOSIGNAL);
      return;
    }
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(server, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      const std::string yes = "HTTP/1.0 200 Connection established\r\n\r\n";
      ::send(client, yes.data(), yes.size(), MSG_NOSIGNAL);
      relay(client, server);
    }
    ::close(server);
  }
  void relay(int a, int b) {
    char buf[16384];
    while (!stop_) {
      pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      for (int k = 0; k < 2; ++k) {
        if (!p[k].revents) continue;
        const long got = ::recv(p[k].fd, buf, sizeof buf, 0);
        if (got <= 0 ||
            ::send(p[1 - k].fd, buf, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got)
          return;
      }
    }
  }

  bool refuse_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

TEST(TlsConnection, DownloadsWhenTheCertificatePassesAndFailsAtOnceWhenNot) {
  TempDir dir;
  TestCerts certs(dir.path() + "/certs");
  if (TestCerts::program().empty()) GTEST_SKIP() << "no openssl program";
  ASSERT_TRUE(certs.ok()) << certs.error();
  ::setenv("SSL_CERT_FILE", certs.ca_file().c_str(), 1);
  const std::string body = pattern_bytes(300000, 5);
  struct Row {
    TestCerts::Kind kind;
    std::string message;  // "": the item finishes
    std::uint32_t options = 0;
  };
  const Row rows[] = {
      {TestCerts::kGood, ""},
      // TLSVerify=0 takes any certificate, and the request log says so once.
      {TestCerts::kUnknownCa, "", TVN_OPT_NO_TLS_VERIFY},
      {TestCerts::kWrongHost, "", TVN_OPT_NO_TLS_VERIFY},
      {TestCerts::kUnknownCa,
       "certificate verify failed: unable to get local issuer certificate (127.0.0.1)"},
      {TestCerts::kWrongHost, "certificate verify failed: IP address mismatch (127.0.0.1)"},
      {TestCerts::kExpired, "certificate verify failed: certificate has expired (127.0.0.1)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    TinyTlsServer server(certs.cert_file(row.kind), certs.key_file(row.kind), body);
    ASSERT_NE(server.port(), 0);
    EngineHarness e(1);
    std::mutex mutex;
    std::vector<std::string> messages;
    e.answer(TVN_NOTICE_MESSAGE, [&](EngineContext*, int, int, void* data) {
      const std::lock_guard<std::mutex> lock(mutex);
      messages.emplace_back(static_cast<const char*>(data));
      return 0;
    });
    int notes = 0;  // requests shown with the note that nothing is verified
    for (const int code : {TVN_NOTICE_HEAD_SENT, TVN_NOTICE_GET_SENT}) {
      e.answer(code, [&](EngineContext*, int, int, void* data) {
        const std::lock_guard<std::mutex> lock(mutex);
        notes +=
            std::string(static_cast<const char*>(data)).find("TLSVerify=0") != std::string::npos;
        return 0;
      });
    }
    const std::string out = dir / "out.bin";
    std::remove(out.c_str());
    const int slot = e.start({.url = server.url(), .save_path = out, .options = row.options});
    ASSERT_GE(slot, 0);
    const bool good = row.message.empty();
    EXPECT_EQ(e.wait_final(slot, kDeadline), good ? TVN_NOTICE_FINISHED : TVN_NOTICE_FAILED);
    e.end();
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(notes, row.options ? 1 : 0);
    if (good) {
      EXPECT_EQ(read_file(out), body);
      EXPECT_TRUE(messages.empty());
    } else {
      EXPECT_EQ(messages, std::vector<std::string>{row.message});
      EXPECT_EQ(server.connections(), 1) << "no attempt spent again on a rejected certificate";
    }
  }
}

TEST(TlsConnection, ReachesTheHostThroughTheProxysTunnel) {
  TempDir dir;
  TestCerts certs(dir.path() + "/certs");
  if (TestCerts::program().empty()) GTEST_SKIP() << "no openssl program";
  ASSERT_TRUE(certs.ok()) << certs.error();
  ::setenv("SSL_CERT_FILE", certs.ca_file().c_str(), 1);
  const std::string body = pattern_bytes(100000, 9);
  TinyTlsServer server(certs.cert_file(TestCerts::kGood), certs.key_file(TestCerts::kGood), body);
  ASSERT_NE(server.port(), 0);
  const std::string connect = "CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.0";
  for (const bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refused" : "opened");
    TinyTunnelProxy proxy(refuse);
    EngineHarness e(1);
    std::mutex mutex;
    std::vector<std::string> messages;
    e.answer(TVN_NOTICE_MESSAGE, [&](EngineContext*, int, int, void* data) {
      const std::lock_guard<std::mutex> lock(mutex);
      messages.emplace_back(static_cast<const char*>(data));
      return 0;
    });
    const std::string out = dir / "out.bin";
    std::remove(out.c_str());
    const int slot = e.start({.url = server.url(),
                              .save_path = out,
                              .options = TVN_OPT_USE_PROXY,
                              .proxy = proxy.address()});
    ASSERT_GE(slot, 0);
    EXPECT_EQ(e.wait_final(slot, kDeadline), refuse ? TVN_NOTICE_FAILED : TVN_NOTICE_FINISHED);
    e.end();
    const std::vector<std::string> lines = proxy.lines();
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_EQ(line, connect);
    const std::lock_guard<std::mutex> lock(mutex);
    if (refuse) {
      EXPECT_EQ(messages,
                std::vector<std::string>{"the proxy refused the tunnel: HTTP/1.0 403 Forbidden"});
    } else {
      EXPECT_EQ(read_file(out), body);
    }
  }
}

TEST(TlsConnection, FollowsARedirectToHttpAndSaysSo) {
  TempDir dir;
  TestCerts certs(dir.path() + "/certs");
  if (TestCerts::program().empty()) GTEST_SKIP() << "no openssl program";
  ASSERT_TRUE(certs.ok()) << certs.error();
  ::setenv("SSL_CERT_FILE", certs.ca_file().c_str(), 1);
  const auto body = std::make_shared<const std::string>(pattern_bytes(70000, 3));
  ScriptedServer plain;
  plain.set_handler([&](const HttpRequest& r) { return resource_reply(r, body); });
  TinyTlsServer server(certs.cert_file(TestCerts::kGood), certs.key_file(TestCerts::kGood), "",
                       plain.url("/f"));
  ASSERT_NE(server.port(), 0);
  EngineHarness e(1);
  std::mutex mutex;
  std::vector<std::string> messages;
  e.answer(TVN_NOTICE_MESSAGE, [&](EngineContext*, int, int, void* data) {
    const std::lock_guard<std::mutex> lock(mutex);
    messages.emplace_back(static_cast<const char*>(data));
    return 0;
  });
  const std::string out = dir / "out.bin";
  const int slot = e.start({.url = server.url(), .save_path = out, .div_count = 2});
  ASSERT_GE(slot, 0);
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
  e.end();
  EXPECT_EQ(read_file(out), *body);
  const std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(messages, std::vector<std::string>{"redirected from https:// to an unencrypted URL: " +
                                               plain.url("/f")});
}

// A server that closes in the middle of the handshake costs one attempt per
// connection, and the last one says why.
TEST(TlsConnection, AHandshakeCutShortUsesAnAttemptEach) {
  TlsFaultServer server(TlsFaultServer::kCloseAfterHello);
  ASSERT_NE(server.port(), 0);
  TempDir dir;
  EngineHarness e(1);
  std::mutex mutex;
  std::vector<std::string> messages;
  e.answer(TVN_NOTICE_MESSAGE, [&](EngineContext*, int, int, void* data) {
    const std::lock_guard<std::mutex> lock(mutex);
    messages.emplace_back(static_cast<const char*>(data));
    return 0;
  });
  const int slot = e.start({.url = server.url("/f"), .save_path = dir / "out.bin"});
  ASSERT_GE(slot, 0);
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FAILED);
  e.end();
  EXPECT_EQ(server.hellos(), 3) << "the harness's three attempts, one connection each";
  const std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(messages, std::vector<std::string>{
                          "TLS handshake failed: the server closed the connection (127.0.0.1:" +
                          std::to_string(server.port()) + ")"});
}

// The handshake never blocks the connection thread: a stop ends an item
// whose server went silent in the middle of it.
TEST(TlsConnection, AStalledHandshakeIsReleasedByAStop) {
  TlsFaultServer server(TlsFaultServer::kStallAfterHello);
  ASSERT_NE(server.port(), 0);
  TempDir dir;
  EngineHarness e(1);
  const int slot = e.start({.url = server.url("/f"), .save_path = dir / "out.bin"});
  ASSERT_GE(slot, 0);
  ASSERT_TRUE(EngineHarness::wait_until([&] { return server.hellos() == 1; }, kDeadline));
  ASSERT_TRUE(e.stop_all(std::chrono::seconds(2)));
  EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_STOPPED);
}

// Divisions read through their own sessions, each over its own handshake,
// and a division closes its session once its range is in.
TEST(TlsConnection, DivisionsDownloadTheirRangesOverTls) {
  ::signal(SIGPIPE, SIG_IGN);  // a division closes once its range is in
  TempDir dir;
  TestCerts certs(dir.path() + "/certs");
  if (TestCerts::program().empty()) GTEST_SKIP() << "no openssl program";
  ASSERT_TRUE(certs.ok()) << certs.error();
  ::setenv("SSL_CERT_FILE", certs.ca_file().c_str(), 1);
  const std::string body = pattern_bytes(1000001, 11);
  TinyTlsServer server(certs.cert_file(TestCerts::kGood), certs.key_file(TestCerts::kGood), body);
  server.take_ranges();
  ASSERT_NE(server.port(), 0);
  for (const int divisions : {1, 4}) {
    SCOPED_TRACE(divisions);
    EngineHarness e(1);
    const std::string out = dir / "out.bin";
    std::remove(out.c_str());
    const int slot = e.start({.url = server.url(),
                              .save_path = out,
                              .div_count = divisions,
                              .buffer_size = 40000 * divisions});
    ASSERT_GE(slot, 0);
    EXPECT_EQ(e.wait_final(slot, kDeadline), TVN_NOTICE_FINISHED);
    e.end();
    EXPECT_EQ(read_file(out), body);
  }
}

}  // namespace
}  // namespace torvane::test
