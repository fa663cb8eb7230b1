// The proxy the environment names for a URL, as command-line tools on this
// system read it: http_proxy, and the hosts no_proxy keeps away from it.
// Pure text; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The proxy an http:// URL goes through by `http_proxy` ("http://host:port/",
// "host:port" or "host") and `no_proxy` (names separated by commas or
// blanks: "*" for every host, a host name or address, "domain" or
// ".domain" for it and every name below it; a port after a name is not
// compared), in the "host:port" form of a profile's "Proxy" key (port 80
// when none is given). None when http_proxy names no host, the URL is not
// http://, or no_proxy covers the URL's host. Host names compare without
// regard to case.
std::optional<std::string> proxy_from_environment(std::string_view url, std::string_view http_proxy,
                                                  std::string_view no_proxy);

}  // namespace torvane
