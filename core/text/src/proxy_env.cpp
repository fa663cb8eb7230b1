#include "core/text/proxy_env.h"

#include "platform/ascii.h"

namespace torvane {
namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";

// The authority of a URL or proxy text: after "scheme://" (when there is
// one), up to the first '/', '?' or '#', without a "user@" part.
std::string_view authority(std::string_view text) {
  if (const std::size_t scheme = text.find("://"); scheme != std::string_view::npos)
    text.remove_prefix(scheme + 3);
  text = text.substr(0, text.find_first_of("/?#"));
  if (const std::size_t at = text.rfind('@'); at != std::string_view::npos)
    text.remove_prefix(at + 1);
  return text;
}

// The host of an authority, without its port ("[v6]" keeps its brackets).
std::string_view host_of(std::string_view authority) {
  if (authority.starts_with('[')) return authority.substr(0, authority.find(']') + 1);
  return authority.substr(0, authority.find(':'));
}

// Whether one no_proxy entry covers `host`.
bool covers(std::string_view entry, std::string_view host) {
  entry = host_of(entry);
  if (entry == "*") return true;
  if (entry.starts_with('.')) entry.remove_prefix(1);
  if (entry.empty()) return false;
  if (equal_ci(entry, host)) return true;
  // Every name below the domain: "x.example.org" for "example.org".
  return host.size() > entry.size() && host[host.size() - entry.size() - 1] == '.' &&
         equal_ci(host.substr(host.size() - entry.size()), entry);
}

bool kept_away(std::string_view host, std::string_view no_proxy) {
  while (!no_proxy.empty()) {
    const std::size_t end = no_proxy.find_first_of(", \t");
    if (covers(no_proxy.substr(0, end), host)) return true;
    if (end == std::string_view::npos) break;
    no_proxy.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace

std::optional<std::string> proxy_from_environment(std::string_view url, std::string_view http_proxy,
                                                  std::string_view https_proxy,
                                                  std::string_view no_proxy) {
  const bool https = url.starts_with(kHttps);
  if (!https && !url.starts_with(kHttp)) return std::nullopt;
  const std::string_view variable = https ? https_proxy : http_proxy;
  // The engine speaks plain HTTP to its proxy.
  const std::size_t scheme = variable.find("://");
  if (scheme != std::string_view::npos && variable.substr(0, scheme + 3) != kHttp)
    return std::nullopt;
  const std::string_view proxy = authority(variable);
  if (host_of(proxy).empty()) return std::nullopt;
  if (kept_away(host_of(authority(url)), no_proxy)) return std::nullopt;
  std::string out(proxy);
  if (proxy.find(':', host_of(proxy).size()) == std::string_view::npos) out += ":80";
  return out;
}

}  // namespace torvane
