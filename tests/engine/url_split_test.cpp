// URL split and the choice of host and port: what the engine connects to and
// what it puts on the request line. Hosts are numeric so that no test asks a
// name server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/url_split.h"

namespace torvane::engine {
namespace {

// An item record with just the fields the split reads; frees what it makes.
struct Record {
  ItemData item{};
  std::string url, proxy, referer, agent;

  Record(std::string u, std::uint32_t options = 0, const char* proxy_text = nullptr, int data_type = TVN_DATA_HTTP)
      : url(std::move(u)) {
    item.url = url.data();
    item.options = options;
    item.data_type = data_type;
    if (proxy_text != nullptr) {
      proxy = proxy_text;
      item.proxy = proxy.data();
    }
  }
  ~Record() {
    std::free(item.conn.host);
    std::free(item.request_path);
  }
  std::string host() const { return item.conn.host ? item.conn.host : "(null)"; }
  std::string target() const { return item.request_path ? item.request_path : "(null)"; }
};

TEST(UrlSplit, HostTargetAndPortForDirectAndProxiedRequests) {
  struct Case {
    const char* name;
    const char* url;
    std::uint32_t options;
    const char* proxy;
    int data_type;
    int port_before;
    const char* host;    // after resolving
    const char* target;
    int port;
  } cases[] = {
      {"bare host", "http://127.0.0.1", 0, nullptr, 1, 0, "127.0.0.1", "/", 80},
      {"path and query", "http://127.0.0.1/a/b.bin?x=1&y=/z", 0, nullptr, 1, 0, "127.0.0.1",
       "/a/b.bin?x=1&y=/z", 80},
      // Capital scheme and a port: the port is used, the Host keeps the bare name.
      {"capital scheme with port", "HTTP://127.0.0.1:8080/f", 0, nullptr, 1, 0, "127.0.0.1", "/f", 8080},
      {"port 0 gives 80", "http://127.0.0.1:0/f", 0, nullptr, 1, 0, "127.0.0.1", "/f", 80},
      {"unreadable port gives 80", "http://127.0.0.1:x/f", 0, nullptr, 1, 0, "127.0.0.1", "/f", 80},
      {"port past 65535 gives 80", "http://127.0.0.1:70000/f", 0, nullptr, 1, 0, "127.0.0.1", "/f", 80},
      // Through a proxy the target is the whole URL and the host keeps its port.
      {"proxy without port", "http://127.0.0.1:8080/f?q", TVN_OPT_USE_PROXY, "127.0.0.1", 1, 0,
       "127.0.0.1:8080", "http://127.0.0.1:8080/f?q", 80},
      {"proxy port 0", "http://127.0.0.1/f", TVN_OPT_USE_PROXY, "127.0.0.1:0", 1, 0, "127.0.0.1",
       "http://127.0.0.1/f", 80},
      {"proxy with port", "http://127.0.0.1/f", TVN_OPT_USE_PROXY, "127.0.0.1:3128", 1, 0, "127.0.0.1",
       "http://127.0.0.1/f", 3128},
      {"proxy given but not enabled", "http://127.0.0.1:81/f", 0, "127.0.0.1:3128", 1, 0, "127.0.0.1",
       "/f", 81},
      {"enabled without a proxy", "http://127.0.0.1:81/f", TVN_OPT_USE_PROXY, nullptr, 1, 0, "127.0.0.1",
       "/f", 81},
      // FTP without a proxy keeps the port the record holds.
      {"ftp keeps its port", "ftp://127.0.0.1/pub/f", 0, nullptr, 2, 2121, "127.0.0.1", "/pub/f", 2121},
      {"ftp through a proxy", "FTP://127.0.0.1/pub/f", TVN_OPT_USE_PROXY, "127.0.0.1:8080", 2, 2121,
       "127.0.0.1", "FTP://127.0.0.1/pub/f", 8080},
      {"utf-8 path", "http://127.0.0.1/\xe6\x97\xa5\xe6\x9c\xac.txt", 0, nullptr, 1, 0, "127.0.0.1",
       "/\xe6\x97\xa5\xe6\x9c\xac.txt", 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Record r(c.url, c.options, c.proxy, c.data_type);
    r.item.conn.port = c.port_before;
    ASSERT_EQ(resolve_item(r.item), 0);
    EXPECT_EQ(r.host(), c.host);
    EXPECT_EQ(r.target(), c.target);
    EXPECT_EQ(r.item.conn.port, c.port);

    fill_address(r.item);
    const std::uint8_t* a = r.item.conn.address;
    EXPECT_EQ(a[0] | (a[1] << 8), 2);                          // AF_INET
    EXPECT_EQ((a[2] << 8) | a[3], c.port);                     // network order
    EXPECT_EQ(std::memcmp(a + 4, "\x7f\x00\x00\x01", 4), 0);   // 127.0.0.1
    EXPECT_EQ(std::memcmp(a + 8, "\0\0\0\0\0\0\0\0", 8), 0);
  }
}

TEST(UrlSplit, RefusesOtherSchemesAndEmptyUrls) {
  for (const char* url : {"", "https://127.0.0.1/", "http:/127.0.0.1/", "127.0.0.1/f", "file:///etc/passwd"}) {
    SCOPED_TRACE(url);
    Record r(url);
    EXPECT_EQ(split_url(r.item), 1);
    EXPECT_EQ(resolve_item(r.item), 1);
  }
  ItemData none{};
  EXPECT_EQ(split_url(none), 1);
}

// A control character in any text that ends up in a request would let it
// inject header lines; such an item must fail before anything is sent.
TEST(UrlSplit, ControlCharactersInRequestTextsFailTheSplit) {
  struct Case {
    const char* name;
    const char* url;
    const char* proxy;
    const char* referer;
    const char* agent;
  } cases[] = {
      {"CR LF in url", "http://127.0.0.1/a\r\nX-Injected: 1", nullptr, nullptr, nullptr},
      {"LF in url", "http://127.0.0.1/a\nb", nullptr, nullptr, nullptr},
      {"tab in url", "http://127.0.0.1/a\tb", nullptr, nullptr, nullptr},
      {"0x1f in url", "http://127.0.0.1/a\x1f", nullptr, nullptr, nullptr},
      {"CR in proxy", "http://127.0.0.1/a", "127.0.0.1\r\n", nullptr, nullptr},
      {"LF in referer", "http://127.0.0.1/a", nullptr, "http://r/\nX: 1", nullptr},
      {"0x01 in user agent", "http://127.0.0.1/a", nullptr, nullptr, "agent\x01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Record r(c.url, c.proxy ? TVN_OPT_USE_PROXY : 0, c.proxy);
    std::string referer = c.referer ? c.referer : "", agent = c.agent ? c.agent : "";
    if (c.referer) r.item.referer = referer.data();
    if (c.agent) r.item.user_agent = agent.data();
    EXPECT_EQ(split_url(r.item), 1);
  }
  // Bytes from 0x7f up are text (UTF-8), not control characters.
  Record ok("http://127.0.0.1/\x7f\xc3\xa9");
  std::string agent = "Agent \xe3\x81\x82";
  ok.item.user_agent = agent.data();
  EXPECT_EQ(split_url(ok.item), 0);
}

TEST(UrlSplit, ASecondSplitReplacesTheFirst) {
  Record r("http://127.0.0.1/one");
  ASSERT_EQ(split_url(r.item), 0);
  std::string next = "http://127.0.0.1:81/two";
  r.item.url = next.data();
  ASSERT_EQ(split_url(r.item), 0);  // the old host and target are freed (ASan)
  EXPECT_EQ(r.target(), "/two");
  EXPECT_EQ(r.host(), "127.0.0.1:81");
}

}  // namespace
}  // namespace torvane::engine
