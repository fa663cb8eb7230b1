// Non-blocking connects and the zero-time-out probes against real loopback
// sockets: a connect never waits, its outcome shows later as writable or as
// the error condition, and the readability probe looks at 64 sockets at most.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/url_split.h"
#include "platform/socket.h"
#include "tests/support/engine_harness.h"
#include "tests/support/real_peers.h"
#include "tests/support/scripted_server.h"

namespace torvane::engine {
namespace {

using namespace std::chrono_literals;
using test::EngineHarness;
using test::HttpReply;
using test::HttpRequest;
using test::ScriptedServer;

// One division's connection data for a URL.
struct Connection {
  std::string url;
  std::int32_t socket = -1;
  ItemData item{};

  explicit Connection(std::string u) : url(std::move(u)) {
    item.url = url.data();
    item.data_type = TVN_DATA_HTTP;
    item.div_count = 1;
    item.conn.sockets = &socket;
  }
  ~Connection() {
    platform::socket_close(socket);
    std::free(item.conn.host);
    std::free(item.request_path);
  }
  int start() {
    if (resolve_item(item) != 0) return -1;
    fill_address(item);
    return connect_division(item, 0);
  }
};

TEST(Connect, ReachesAListenerWithoutWaiting) {
  ScriptedServer server([](const HttpRequest&) { return HttpReply::raw("HTTP/1.0 200 OK\r\n\r\nx"); });
  Connection c(server.url("/"));
  ASSERT_EQ(c.start(), 0);
  ASSERT_GE(c.socket, 0);
  ASSERT_TRUE(EngineHarness::wait_until([&] { return platform::socket_writable(c.socket); }, 2s));
  EXPECT_FALSE(platform::socket_error_condition(c.socket));
  EXPECT_FALSE(platform::socket_readable(c.socket)) << "nothing sent yet";

  const std::int32_t fd = c.socket;
  EXPECT_EQ(connect_division(c.item, 0), 0) << "already connected";
  EXPECT_EQ(c.socket, fd);

  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  EXPECT_EQ(platform::socket_send(c.socket, request.data(), request.size()), static_cast<long>(request.size()));
  ASSERT_TRUE(EngineHarness::wait_until([&] { return platform::socket_readable(c.socket); }, 2s));
  EXPECT_EQ(server.requests().at(0).raw, request);

  platform::socket_close(c.socket);
  EXPECT_EQ(c.socket, -1);
  platform::socket_close(c.socket);  // a closed variable stays closed
  EXPECT_FALSE(platform::socket_writable(-1));
  EXPECT_FALSE(platform::socket_readable(-1));
  EXPECT_FALSE(platform::socket_error_condition(-1));
}

TEST(Connect, AClosedPortShowsAsTheErrorCondition) {
  const int port = test::free_loopback_port();
  ASSERT_GT(port, 0);
  Connection c("http://127.0.0.1:" + std::to_string(port) + "/");
  const int result = c.start();
  if (result == 2) {
    EXPECT_EQ(c.socket, -1) << "refused at once: the socket is closed";
    return;
  }
  ASSERT_EQ(result, 0) << "would-block counts as started";
  EXPECT_TRUE(EngineHarness::wait_until([&] { return platform::socket_error_condition(c.socket); }, 2s));
}

TEST(Connect, ReadabilityIsProbedOn64SocketsAtMost) {
  ScriptedServer server([](const HttpRequest&) { return HttpReply::raw("HTTP/1.0 200 OK\r\n\r\nx"); });
  std::vector<std::unique_ptr<Connection>> conns;
  std::vector<std::int32_t> fds;
  const std::string request = "GET / HTTP/1.0\r\n\r\n";
  for (int i = 0; i < 70; ++i) {
    conns.push_back(std::make_unique<Connection>(server.url("/")));
    ASSERT_EQ(conns.back()->start(), 0);
    ASSERT_TRUE(EngineHarness::wait_until([&] { return platform::socket_writable(conns.back()->socket); }, 2s));
    platform::socket_send(conns.back()->socket, request.data(), request.size());
    fds.push_back(conns.back()->socket);
  }
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] {
        for (std::int32_t fd : fds)
          if (!platform::socket_readable(fd)) return false;
        return true;
      },
      3s));
  bool ready[70] = {};
  EXPECT_EQ(platform::sockets_readable(fds.data(), 70, ready), platform::kMaxProbeSockets);
  for (int i = 0; i < 64; ++i) EXPECT_TRUE(ready[i]);
  for (int i = 64; i < 70; ++i) EXPECT_FALSE(ready[i]) << "socket " << i << " is beyond the limit";
}

}  // namespace
}  // namespace torvane::engine
