// The scripted server is what the engine's network tests stand on: these
// checks make sure it sends what a test asks for and records what it gets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "tests/support/http_replies.h"
#include "tests/support/scripted_server.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

// A blocking client with a receive time-out.
class Client {
 public:
  explicit Client(int port, int timeout_ms = 2000) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  ~Client() { ::close(fd_); }

  bool connected() const { return connected_; }
  void send(const std::string& text) { ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }

  // Reads until the peer closes (end true), resets (error set) or the
  // time-out passes (both false).
  std::string read_all(bool* end = nullptr, int* error = nullptr) {
    std::string out;
    char buf[65536];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        out.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (end) *end = n == 0;
      if (error) *error = n < 0 && errno != EAGAIN ? errno : 0;
      return out;
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

std::string get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.0\r\nHost: t\r\n" + extra + "\r\n";
}

TEST(ScriptedServer, ResourceAnswersLikeAFileServer) {
  auto content = std::make_shared<const std::string>(pattern_bytes(100));
  struct Case {
    const char* name;
    std::string request;
    ResourceOptions options;
    std::string status_line;
    std::string header;  // a header line the answer must carry ("" none)
    std::string body;
  } cases[] = {
      {"head", "HEAD / HTTP/1.0\r\n\r\n", {}, "HTTP/1.0 200 OK", "Content-Length: 100", ""},
      {"whole", get("/"), {}, "HTTP/1.0 200 OK", "Content-Length: 100", *content},
      {"open range", get("/", "Range: bytes=10-\r\n"), {}, "HTTP/1.0 206 Partial Content",
       "Content-Range: bytes 10-99/100", content->substr(10)},
      {"closed range", get("/", "Range: bytes=10-19\r\n"), {}, "HTTP/1.0 206 Partial Content",
       "Content-Length: 10", content->substr(10, 10)},
      {"past the end", get("/", "Range: bytes=100-\r\n"), {}, "HTTP/1.0 416", "", ""},
      {"ranges ignored", get("/", "Range: bytes=10-\r\n"), {true, false, {}}, "HTTP/1.0 200 OK",
       "Content-Length: 100", *content},
      {"no length", get("/"), {false, true, {"Set-Cookie: a=1"}}, "HTTP/1.0 200 OK", "Set-Cookie: a=1",
       *content},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(serve_resource(content, c.options));
    ASSERT_TRUE(server.ok());
    Client client(server.port());
    ASSERT_TRUE(client.connected());
    client.send(c.request);
    bool end = false;
    const std::string answer = client.read_all(&end);
    EXPECT_TRUE(end);
    const std::size_t blank = answer.find("\r\n\r\n");
    ASSERT_NE(blank, std::string::npos);
    const std::string head = answer.substr(0, blank + 2);
    EXPECT_EQ(head.rfind(c.status_line, 0), 0u) << head;
    if (!c.header.empty()) {
      EXPECT_NE(head.find(c.header + "\r\n"), std::string::npos) << head;
    }
    if (c.options.omit_length) {
      EXPECT_EQ(head.find("Content-Length"), std::string::npos);
    }
    if (c.status_line.find("416") == std::string::npos) {
      EXPECT_EQ(answer.substr(blank + 4), c.body);
    }
  }
}

TEST(ScriptedServer, RecordsEachRequestUpToItsEarliestBlankLine) {
  ScriptedServer server;
  ASSERT_TRUE(server.ok());
  // A bare LF LF ends the header even when a CRLF CRLF follows later.
  Client client(server.port());
  client.send("HEAD /a?b=1 HTTP/1.0\nRange: bytes=5-\n\nX\r\n\r\n");
  ASSERT_TRUE(server.wait_for_requests(1, 2s));
  const HttpRequest r = server.requests().at(0);
  EXPECT_EQ(r.raw, "HEAD /a?b=1 HTTP/1.0\nRange: bytes=5-\n\n");
  EXPECT_EQ(r.method, "HEAD");
  EXPECT_EQ(r.target, "/a?b=1");
  EXPECT_EQ(r.header("range"), "bytes=5-");
  EXPECT_EQ(r.range_start(), 5);
  EXPECT_EQ(r.range_end(), -1);
  EXPECT_FALSE(r.has_header("Host"));
}

TEST(ScriptedServer, CutsResetsAndHoldsAsScripted) {
  ScriptedServer server([](const HttpRequest& r) {
    HttpReply reply = HttpReply::raw("HTTP/1.0 200 OK\r\n\r\n0123456789");
    if (r.target == "/cut") reply.send_limit = 23;  // head (19 bytes) + 4 body bytes
    if (r.target == "/reset") reply.ending = HttpReply::Ending::kReset;
    if (r.target == "/hold") reply.ending = HttpReply::Ending::kHold;
    return reply;
  });
  ASSERT_TRUE(server.ok());
  {
    Client client(server.port());
    client.send(get("/cut"));
    bool end = false;
    EXPECT_EQ(client.read_all(&end), "HTTP/1.0 200 OK\r\n\r\n0123");
    EXPECT_TRUE(end);
  }
  {
    Client client(server.port());
    client.send(get("/reset"));
    ASSERT_TRUE(server.wait_for_requests(2, 2s));
    std::this_thread::sleep_for(50ms);  // let the reset arrive before reading
    int error = 0;
    client.read_all(nullptr, &error);
    EXPECT_EQ(error, ECONNRESET);
  }
  {
    Client client(server.port(), 150);
    client.send(get("/hold"));
    bool end = true;
    EXPECT_EQ(client.read_all(&end), "HTTP/1.0 200 OK\r\n\r\n0123456789");
    EXPECT_FALSE(end) << "a held connection stays open";
    server.release_held();
    EXPECT_EQ(client.read_all(&end), "");
    EXPECT_TRUE(end);
  }
}

TEST(ScriptedServer, GateAndDripPaceTheBody) {
  auto gate = std::make_shared<Gate>();
  ScriptedServer server([gate](const HttpRequest& r) {
    HttpReply reply = HttpReply::raw("HTTP/1.0 200 OK\r\n\r\n" + std::string(50, 'x'));
    if (r.target == "/gate") {
      reply.gate = gate;
      reply.gate_at = 19;
    } else {
      reply.chunk = 10;
      reply.interval_ms = 20;
    }
    return reply;
  });
  ASSERT_TRUE(server.ok());
  {
    Client client(server.port(), 200);
    client.send(get("/gate"));
    bool end = true;
    EXPECT_EQ(client.read_all(&end), "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_FALSE(end);
    gate->open();
    EXPECT_EQ(client.read_all(&end), std::string(50, 'x'));
  }
  {
    Client client(server.port());
    const auto begin = std::chrono::steady_clock::now();
    client.send(get("/drip"));
    EXPECT_EQ(client.read_all().size(), 69u);
    // 7 steps of at most 10 bytes, 20 ms apart.
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 100ms);
  }
}

TEST(ScriptedServer, ServesManyConnectionsAtOnce) {
  ScriptedServer server([](const HttpRequest&) { return HttpReply::silence(); });
  ASSERT_TRUE(server.ok());
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 80; ++i) {
    clients.push_back(std::make_unique<Client>(server.port()));
    clients.back()->send(get("/" + std::to_string(i)));
  }
  EXPECT_TRUE(server.wait_for_requests(80, 3s));
  EXPECT_GE(server.peak_connections(), 80);
  clients.clear();
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (server.open_connections() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(server.open_connections(), 0);
  EXPECT_EQ(server.client_closes(), 80);
}

}  // namespace
}  // namespace torvane::test
