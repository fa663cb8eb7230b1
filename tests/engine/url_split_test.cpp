// URL split, the choice of host and port, the address, and non-blocking
// connects against real loopback sockets: what the engine connects to, what
// it puts on the request line, and a connect that never waits. Hosts are
// numeric so that no test asks a name server.
#include "engine/url_split.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "tests/support/engine_harness.h"
#include "tests/support/real_peers.h"
#include "tests/support/scripted_server.h"

namespace torvane::engine {
namespace {

using namespace std::chrono_literals;

// An item record with the fields the split reads; frees what the split makes.
struct Record {
  ItemData item{};
  std::string url, proxy;
  std::int32_t socket = -1;

  // A proxy given is a proxy enabled.
  explicit Record(std::string u, const char* proxy_text = nullptr, int data_type = TVN_DATA_HTTP)
      : url(std::move(u)), proxy(proxy_text ? proxy_text : "") {
    item.url = url.data();
    item.proxy = proxy_text ? proxy.data() : nullptr;
    item.options = proxy_text ? TVN_OPT_USE_PROXY : 0;
    item.data_type = data_type;
    item.div_count = 1;
    item.conn.sockets = &socket;
  }
  ~Record() {
    platform::socket_close(socket);
    std::free(item.conn.host);
    std::free(item.request_path);
  }
  int connect() {
    if (resolve_item(item) != 0) return -1;
    fill_address(item);
    return connect_division(item, 0);
  }
};

// FTP items (data_type 2) come with port 2121 in the record.
TEST(UrlSplit, HostTargetAndPortForDirectAndProxiedRequests) {
  struct Case {
    const char *url, *proxy, *host, *target;  // host and target after resolving
    int port;
  } cases[] = {
      {"http://127.0.0.1", nullptr, "127.0.0.1", "/", 80},
      {"http://127.0.0.1/a/b.bin?x=1&y=/z", nullptr, "127.0.0.1", "/a/b.bin?x=1&y=/z", 80},
      // The port is used; the Host keeps the bare name. Port 0 gives 80, and
      // (our choice) so does one past 65535.
      {"HTTP://127.0.0.1:8080/f", nullptr, "127.0.0.1", "/f", 8080},
      {"http://127.0.0.1:0/f", nullptr, "127.0.0.1", "/f", 80},
      {"http://127.0.0.1:70000/f", nullptr, "127.0.0.1", "/f", 80},
      // Through a proxy the target is the whole URL and the host keeps its port.
      {"http://127.0.0.1:8080/f?q", "127.0.0.1", "127.0.0.1:8080", "http://127.0.0.1:8080/f?q", 80},
      {"http://127.0.0.1/f", "127.0.0.1:3128", "127.0.0.1", "http://127.0.0.1/f", 3128},
      // FTP without a proxy keeps the port the record holds.
      {"ftp://127.0.0.1/pub/f", nullptr, "127.0.0.1", "/pub/f", 2121},
      {"FTP://127.0.0.1/pub/f", "127.0.0.1:8080", "127.0.0.1", "FTP://127.0.0.1/pub/f", 8080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const bool ftp = (c.url[0] | 0x20) == 'f';
    Record r(c.url, c.proxy, ftp ? TVN_DATA_FTP : TVN_DATA_HTTP);
    r.item.conn.port = ftp ? 2121 : 0;
    ASSERT_EQ(resolve_item(r.item), 0);
    EXPECT_STREQ(r.item.conn.host, c.host);
    EXPECT_STREQ(r.item.request_path, c.target);
    EXPECT_EQ(r.item.conn.port, c.port);
    fill_address(r.item);
    const std::uint8_t* a = r.item.conn.address;  // AF_INET, the port in network order, 127.0.0.1
    EXPECT_EQ(std::vector<int>(a, a + 8),
              (std::vector<int>{2, 0, c.port >> 8, c.port & 255, 127, 0, 0, 1}));
  }
  Record off("http://127.0.0.1:81/f", "127.0.0.1:3128");
  off.item.options = 0;
  ASSERT_EQ(resolve_item(off.item), 0);
  EXPECT_EQ(off.item.conn.port, 81) << "a proxy given but not enabled";
}

// A control character in any text that ends up in a request would let it
// inject header lines; such an item must fail before anything is sent.
TEST(UrlSplit, RefusesOtherSchemesAndControlCharacters) {
  struct Case {
    const char* url;
    char* ItemData::*field;  // a further text of the request, when set
    const char* text;
  } cases[] = {
      {"https://127.0.0.1/", nullptr, nullptr},
      {"http://127.0.0.1/a\r\nX-Injected: 1", nullptr, nullptr},
      {"http://127.0.0.1/a\tb", nullptr, nullptr},
      {"http://127.0.0.1/a", &ItemData::proxy, "127.0.0.1\r\n"},
      {"http://127.0.0.1/a", &ItemData::referer, "http://r/\nX: 1"},
      {"http://127.0.0.1/a", &ItemData::user_agent, "agent\x01"},
      // Bytes from 0x7f up are text (UTF-8), not control characters.
      {"http://127.0.0.1/\x7f\xc3\xa9", &ItemData::user_agent, "Agent \xe3\x81\x82"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Record r(c.url);
    r.item.options = TVN_OPT_USE_PROXY;
    std::string text = c.text ? c.text : "";
    if (c.field) r.item.*c.field = text.data();
    EXPECT_EQ(split_url(r.item), &c == std::end(cases) - 1 ? 0 : 1);
  }
}

TEST(Connect, ReachesAListenerWithoutWaiting) {
  test::ScriptedServer server(
      [](const test::HttpRequest&) { return test::HttpReply::raw("HTTP/1.0 200 OK\r\n\r\n"); });
  Record c(server.url("/"));
  ASSERT_EQ(c.connect(), 0);
  ASSERT_TRUE(
      test::EngineHarness::wait_until([&] { return platform::socket_writable(c.socket); }, 2s));
  EXPECT_FALSE(platform::socket_error_condition(c.socket));
  platform::socket_close(c.socket);
  EXPECT_EQ(c.socket, -1);
}

TEST(Connect, AClosedPortShowsAsTheErrorCondition) {
  Record c("http://127.0.0.1:" + std::to_string(test::free_loopback_port()) + "/");
  const int result = c.connect();  // would-block counts as started; 2 is refused at once
  ASSERT_TRUE(result == 0 || result == 2) << result;
  // Refused at once: the socket is closed; else the error condition shows.
  EXPECT_TRUE(result == 2 ? c.socket == -1
                          : test::EngineHarness::wait_until(
                                [&] { return platform::socket_error_condition(c.socket); }, 2s));
}

}  // namespace
}  // namespace torvane::engine
