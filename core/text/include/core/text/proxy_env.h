// The proxy the environment names for a URL, as command-line tools on this
// system read it: http_proxy, https_proxy, and the hosts no_proxy keeps away
// from them.
// Pure text; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The proxy a URL goes through: `http_proxy` for an http:// URL, `https_proxy`
// for an https:// one (reached with CONNECT), each "http://host:port/",
// "host:port" or "host" (a proxy spoken to over TLS, "https://...", cannot be
// used and counts as none). `no_proxy` lists names separated by commas or
// blanks: "*" for every host, a host name or address, "domain" or ".domain"
// for it and every name below it; a port after a name is not compared. The
// result has the "host:port" form of a profile's "Proxy" key (port 80 when
// none is given). None when the variable names no host, the URL is neither,
// or no_proxy covers the URL's host. Host names compare without regard to
// case.
std::optional<std::string> proxy_from_environment(std::string_view url, std::string_view http_proxy,
                                                  std::string_view https_proxy,
                                                  std::string_view no_proxy);

}  // namespace torvane
