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

// A blocking client that sends one request and reads with a time-out.
class Client {
 public:
  Client(int port, const std::string& request, int timeout_ms = 2000) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
      ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
  }
  ~Client() { ::close(fd_); }

  // Reads until the peer closes (`end`), resets (`error`) or the time-out.
  std::string read_all(bool* end = nullptr, int* error = nullptr) {
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(fd_, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(n));
    if (end) *end = n == 0;
    if (error) *error = n < 0 && errno != EAGAIN ? errno : 0;
    return out;
  }

 private:
  int fd_ = -1;
};

std::string get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.0\r\n" + extra + "\r\n";
}

TEST(ScriptedServer, ResourceAnswersLikeAFileServer) {
  auto content = std::make_shared<const std::string>(pattern_bytes(100));
  struct Case {
    const char* name;
    std::string request;
    ResourceOptions options;
    std::string head_start;  // status line and the header line that matters
    std::string body;
  } cases[] = {
      {"head", "HEAD / HTTP/1.0\r\n\r\n", {}, "HTTP/1.0 200 OK\r\n", ""},
      {"open range", get("/", "Range: bytes=10-\r\n"), {}, "HTTP/1.0 206 Partial Content\r\n",
       content->substr(10)},
      {"past the end", get("/", "Range: bytes=100-\r\n"), {}, "HTTP/1.0 416", ""},
      {"ranges ignored, no length", get("/", "Range: bytes=10-\r\n"), {true, true, {}},
       "HTTP/1.0 200 OK\r\n", *content},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(serve_resource(content, c.options));
    const std::string answer = Client(server.port(), c.request).read_all();
    const std::size_t blank = answer.find("\r\n\r\n");
    ASSERT_NE(blank, std::string::npos);
    const std::string head = answer.substr(0, blank + 2);
    EXPECT_EQ(head.rfind(c.head_start, 0), 0u) << head;
    EXPECT_EQ(head.find("Content-Length") == std::string::npos, c.options.omit_length) << head;
    EXPECT_EQ(answer.substr(blank + 4), c.body);
    if (c.name == std::string("open range")) {
      EXPECT_NE(head.find("Content-Range: bytes 10-99/100\r\n"), std::string::npos);
    }
  }
}

TEST(ScriptedServer, RecordsEachRequestUpToItsEarliestBlankLine) {
  ScriptedServer server;
  // A bare LF LF ends the header even when a CRLF CRLF follows later.
  Client client(server.port(), "HEAD /a?b=1 HTTP/1.0\nRange: bytes=5-\n\nX\r\n\r\n");
  ASSERT_TRUE(server.wait_for_requests(1, 2s));
  const HttpRequest r = server.requests().at(0);
  EXPECT_EQ(r.raw, "HEAD /a?b=1 HTTP/1.0\nRange: bytes=5-\n\n");
  EXPECT_EQ(r.method, "HEAD");
  EXPECT_EQ(r.target, "/a?b=1");
  EXPECT_EQ(r.header("range"), "bytes=5-");
  EXPECT_EQ(r.range_start(), 5);
  EXPECT_EQ(r.range_end(), -1);
}

TEST(ScriptedServer, CutsResetsHoldsGatesAndDripsAsScripted) {
  auto gate = std::make_shared<Gate>();
  ScriptedServer server([gate](const HttpRequest& r) {
    HttpReply reply = HttpReply::raw("HTTP/1.0 200 OK\r\n\r\n0123456789");  // 19 + 10 bytes
    if (r.target == "/cut") reply.send_limit = 23;
    if (r.target == "/reset") reply.ending = HttpReply::Ending::kReset;
    if (r.target == "/hold") reply.ending = HttpReply::Ending::kHold;
    if (r.target == "/gate") {
      reply.gate = gate;
      reply.gate_at = 19;
    }
    if (r.target == "/drip") {
      reply.chunk = 5;
      reply.interval_ms = 20;
    }
    return reply;
  });
  bool end = false;
  EXPECT_EQ(Client(server.port(), get("/cut")).read_all(&end), "HTTP/1.0 200 OK\r\n\r\n0123");
  EXPECT_TRUE(end);
  {
    Client client(server.port(), get("/reset"));
    std::this_thread::sleep_for(100ms);  // the reset has arrived before the read
    int error = 0;
    client.read_all(nullptr, &error);
    EXPECT_EQ(error, ECONNRESET);
  }
  {
    Client client(server.port(), get("/hold"), 150);
    EXPECT_EQ(client.read_all(&end), "HTTP/1.0 200 OK\r\n\r\n0123456789");
    EXPECT_FALSE(end) << "held open";
    server.release_held();
    EXPECT_EQ(client.read_all(&end), "");
    EXPECT_TRUE(end);
  }
  {
    Client client(server.port(), get("/gate"), 150);
    EXPECT_EQ(client.read_all(&end), "HTTP/1.0 200 OK\r\n\r\n");
    EXPECT_FALSE(end) << "the body waits for the gate";
    gate->open();
    EXPECT_EQ(client.read_all(&end), "0123456789");
  }
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(Client(server.port(), get("/drip")).read_all().size(), 29u);
  EXPECT_GE(std::chrono::steady_clock::now() - begin, 80ms) << "6 steps 20 ms apart";
}

TEST(ScriptedServer, ServesManyConnectionsAtOnce) {
  ScriptedServer server([](const HttpRequest&) { return HttpReply::silence(); });
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 80; ++i) clients.push_back(std::make_unique<Client>(server.port(), get("/")));
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
