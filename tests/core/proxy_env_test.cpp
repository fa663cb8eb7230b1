// Which proxy the environment names for a URL.
#include "core/text/proxy_env.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

TEST(ProxyEnv, ProxyOfTheUrlsSchemeUnlessNoProxyCoversTheHost) {
  struct Row {
    std::string_view url, http_proxy, https_proxy, no_proxy;
    std::optional<std::string> proxy;
  } rows[] = {
      {"http://a.example/x", "http://127.0.0.1:3128/", "", "", "127.0.0.1:3128"},
      {"http://a.example/x", "proxy.lan", "", "", "proxy.lan:80"},
      {"http://a.example/x", "", "proxy.lan:1", "", std::nullopt},
      {"http://a.example/x", "http://", "", "", std::nullopt},
      // https:// URLs take https_proxy only, and only a proxy spoken to in
      // plain HTTP.
      {"https://a.example/x", "proxy.lan:1", "http://proxy.lan:2/", "", "proxy.lan:2"},
      {"https://a.example/x", "proxy.lan:1", "", "", std::nullopt},
      {"https://a.example/x", "", "https://proxy.lan:2/", "", std::nullopt},
      // no_proxy: a name, a domain with or without its dot, a port, "*", any case.
      {"http://A.Example:81/x", "proxy.lan:1", "", "b.example, a.example", std::nullopt},
      {"http://x.a.example/x", "proxy.lan:1", "", ".a.example", std::nullopt},
      {"http://x.a.example/x", "proxy.lan:1", "", "a.example:8080", std::nullopt},
      {"http://xa.example/x", "proxy.lan:1", "", "a.example", "proxy.lan:1"},
      {"http://user@127.0.0.1/x", "proxy.lan:1", "", "*", std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(proxy_from_environment(row.url, row.http_proxy, row.https_proxy, row.no_proxy),
              row.proxy)
        << row.url << " / " << row.http_proxy << " / " << row.https_proxy << " / " << row.no_proxy;
  }
}

}  // namespace
}  // namespace torvane
