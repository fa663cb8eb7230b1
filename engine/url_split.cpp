#include "engine/url_split.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/decimal.h"
#include "engine/engine_state.h"
#include "engine/heap.h"
#include "engine/item_state.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

thread_local HostEntry t_host_entry;
// Why the last resolve_item on this thread failed; "" after a success.
thread_local std::string t_resolve_failure;

bool proxy_in_use(const ItemData& item) {
  return (item.options & TVN_OPT_USE_PROXY) != 0 && item.proxy != nullptr;
}

// The decimal port behind the first colon (after blanks and a '+'; what
// follows the digits is ignored); `standard` when there is none or it is not
// 1 to 65535.
int port_after_colon(const char* colon, int standard = 80) {
  if (colon == nullptr) return standard;
  const std::string_view text = colon + 1;
  std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string_view::npos || text[at] == '-') return standard;
  if (text[at] == '+') ++at;
  std::uint64_t value = 0;
  if (!read_decimal(text, at, 65535, value) || value < 1) return standard;
  return static_cast<int>(value);
}

}  // namespace

bool has_control_char(const char* text) {
  if (text == nullptr) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    if (*p < 0x20) return true;
  return false;
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool escape_at(std::string_view text, std::size_t i) {
  return text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
         hex_value(text[i + 2]) >= 0;
}

// Letters, digits and the marks a path or query may carry as they are.
bool stays_raw(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("-._~!$&'()*+,;=:@/?", c) != nullptr;
}

std::string percent_decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (escape_at(text, i)) {
      out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k)
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

}  // namespace

bool split_parts(std::string_view url, UrlParts& parts) {
  std::size_t scheme = 0;
  if (url.size() >= 7 && strncasecmp(url.data(), "http://", 7) == 0) {
    scheme = 7;
  } else if (url.size() >= 8 && strncasecmp(url.data(), "https://", 8) == 0) {
    scheme = 8;
  } else if (url.size() >= 6 && strncasecmp(url.data(), "ftp://", 6) == 0) {
    scheme = 6;
  } else {
    return false;
  }
  parts = UrlParts{};
  parts.scheme = url.substr(0, scheme);
  url = url.substr(0, url.find('#'));
  const std::size_t path = std::min(url.find_first_of("/?", scheme), url.size());
  std::string_view authority = url.substr(scheme, path - scheme);
  parts.path = url.substr(path);
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    parts.has_userinfo = true;
    parts.userinfo = authority.substr(0, at);
    authority.remove_prefix(at + 1);
  }
  parts.host = authority;
  return true;
}

std::string request_target(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = path.empty() || path[0] != '/' ? "/" : "";
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (stays_raw(c) || escape_at(path, i)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string outgoing_url(const UrlParts& parts, bool keep_userinfo) {
  std::string out(parts.scheme);
  if (keep_userinfo && parts.has_userinfo) {
    out += parts.userinfo;
    out += '@';
  }
  out += parts.host;
  return out + request_target(parts.path);
}

std::string url_authorization(const char* url) {
  UrlParts parts;
  if (url == nullptr || !split_parts(url, parts) || parts.userinfo.empty() ||
      parts.scheme.size() == 6)
    return {};
  const std::size_t colon = parts.userinfo.find(':');
  std::string pair = percent_decoded(parts.userinfo.substr(0, colon)) + ':';
  if (colon != std::string_view::npos) pair += percent_decoded(parts.userinfo.substr(colon + 1));
  return "Basic " + base64(pair);
}

std::string url_without_password(std::string_view url) {
  UrlParts parts;
  if (!split_parts(url, parts) || !parts.has_userinfo) return std::string(url);
  const std::size_t colon = parts.userinfo.find(':');
  if (colon == std::string_view::npos) return std::string(url);
  const std::size_t from = parts.scheme.size() + colon + 1;
  return std::string(url.substr(0, from)) + "********" +
         std::string(url.substr(parts.scheme.size() + parts.userinfo.size()));
}

bool url_is_https(const char* url) {
  UrlParts parts;
  return url != nullptr && split_parts(url, parts) && parts.scheme.size() == 8;
}

std::string unsupported_host_reason(const ItemData& item) {
  UrlParts parts;
  std::string_view name;
  if (proxy_in_use(item)) {
    name = item.proxy;
  } else if (item.url != nullptr && split_parts(item.url, parts)) {
    name = parts.host;
  }
  if (name.empty() || name[0] != '[') return {};
  return "IPv6 addresses are not supported yet: " + std::string(name.substr(0, name.find(']') + 1));
}

namespace {

// Why split_url refuses the item, as its 401 says it. The URL itself is left
// out: it may hold a password, and the client knows which URL it gave.
std::string split_refusal(const ItemData& item) {
  const char* url = item.url;
  if (url == nullptr || *url == '\0') return "the URL cannot be used: it is empty";
  if (has_control_char(url))
    return "the URL cannot be used: it holds a control character (a line break, a tab...)";
  if (has_control_char(item.proxy)) return "the proxy cannot be used: it holds a control character";
  if (has_control_char(item.referer) || has_control_char(item.user_agent))
    return "the Referer or User-Agent cannot be sent: it holds a control character";
  UrlParts parts;
  if (split_parts(url, parts)) return {};  // out of memory: nothing to tell the user
  const std::string_view text = url;
  const std::size_t end = text.find("://");
  const std::string_view scheme = end == std::string_view::npos ? "" : text.substr(0, end);
  if (scheme.empty() || scheme.size() > 16 || scheme.find_first_of("@:/") != scheme.npos)
    return "the URL cannot be used: it does not start with http://, https:// or ftp://";
  return "the URL cannot be used: " + std::string(scheme) +
         ":// is not supported (only http://, https:// and ftp://)";
}

}  // namespace

void report_resolve_failure(EngineContext* ctx, int slot, ItemData& item) {
  if (!t_resolve_failure.empty() && first_time(item, kRunFailureSaid))
    notify_message(ctx, slot, t_resolve_failure);
}

int split_url(ItemData& item) {
  const char* url = item.url;
  if (url == nullptr || *url == '\0') return 1;
  if (has_control_char(url) || has_control_char(item.proxy) || has_control_char(item.referer) ||
      has_control_char(item.user_agent))
    return 1;
  UrlParts parts;
  if (!split_parts(url, parts)) return 1;
  // An ftp:// URL through a proxy keeps its user part: the proxy logs in with
  // it. An http:// one sends it as an Authorization line instead.
  // An https:// URL goes through a proxy's tunnel: the request inside it
  // names the path only.
  const bool whole = proxy_in_use(item) && parts.scheme.size() != 8;
  const std::string target =
      whole ? outgoing_url(parts, parts.scheme.size() == 6) : request_target(parts.path);
  char* host = copy_text(parts.host.data(), parts.host.size());
  char* request = copy_text(target.data(), target.size());
  std::free(item.conn.host);
  std::free(item.request_path);
  item.conn.host = host;
  item.request_path = request;
  return (host != nullptr && request != nullptr) ? 0 : 1;
}

int resolve_item(ItemData& item) {
  t_resolve_failure.clear();
  if (split_url(item) != 0) {
    t_resolve_failure = split_refusal(item);
    return 1;
  }
  const bool proxy = proxy_in_use(item);
  std::string name = proxy ? item.proxy : item.conn.host;
  t_resolve_failure = unsupported_host_reason(item);
  if (!t_resolve_failure.empty()) return 1;
  if (item.data_type == TVN_DATA_HTTP || (item.data_type == TVN_DATA_FTP && proxy)) {
    const std::size_t colon = name.find(':');
    // An https:// URL reached directly defaults to 443; a proxy's port
    // keeps the proxy's default.
    const int standard = !proxy && url_is_https(item.url) ? 443 : 80;
    item.conn.port =
        port_after_colon(colon == std::string::npos ? nullptr : name.c_str() + colon, standard);
    if (colon != std::string::npos) {
      name.resize(colon);
      // Without a proxy the Host header then carries the bare host.
      if (!proxy) item.conn.host[colon] = '\0';
    }
  }
  if (platform::resolve_ipv4(name.c_str(), t_host_entry.address) != 0) {
    item.conn.host_entry = nullptr;
    t_resolve_failure = "host not found: " + name;
    return 1;
  }
  t_host_entry.length = 4;
  item.conn.host_entry = &t_host_entry;
  return 0;
}

std::string connect_target(const ItemData& item) {
  std::string name = proxy_in_use(item) ? item.proxy : item.conn.host ? item.conn.host : "";
  name.resize(std::min(name.size(), name.find(':')));
  return name + ':' + std::to_string(item.conn.port);
}

void fill_address(ItemData& item) {
  const auto* entry = static_cast<const HostEntry*>(item.conn.host_entry);
  static const std::uint8_t kNone[4] = {0, 0, 0, 0};
  platform::fill_ipv4_address(item.conn.address, entry ? entry->address : kNone,
                              static_cast<std::uint16_t>(item.conn.port));
}

int connect_division(ItemData& item, int i) {
  std::int32_t& fd = item.conn.sockets[i];
  if (fd >= 0) return 0;
  const int opened = platform::tcp_socket_open(fd);
  if (opened != 0) return 1;
  if (platform::tcp_connect_start(fd, item.conn.address) != 0) {
    close_connection(fd);
    return 2;
  }
  return 0;
}

}  // namespace torvane::engine

namespace torvane::engine {
namespace {

// Removes "." and ".." segments from an absolute path (RFC 3986, 5.2.4).
std::string remove_dot_segments(std::string_view path) {
  std::string out;
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t end = path.find('/', at + 1);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(at, end - at);  // "/name"
    if (segment == "/." || segment == "/..") {
      if (segment == "/..") {
        const std::size_t cut = out.rfind('/');
        out.resize(cut == std::string::npos ? 0 : cut);
      }
      // A dot segment at the end leaves the folder itself.
      if (end == path.size()) out += '/';
    } else {
      out += segment;
    }
    at = end;
  }
  return out.empty() ? "/" : out;
}

}  // namespace

std::string resolve_location(std::string_view base, std::string_view location) {
  location = location.substr(0, location.find('#'));
  const std::size_t colon = location.find(':');
  const std::size_t delimiter = location.find_first_of("/?");
  if (colon != std::string_view::npos && colon > 0 &&
      (delimiter == std::string_view::npos || colon < delimiter)) {
    return std::string(location);  // has a scheme: absolute
  }
  const std::size_t scheme_end = base.find("://");
  if (scheme_end == std::string_view::npos) return std::string(location);
  const std::size_t host_start = scheme_end + 3;
  std::size_t path_start = base.find_first_of("/?", host_start);
  if (path_start == std::string_view::npos) path_start = base.size();
  if (location.substr(0, 2) == "//")
    return std::string(base.substr(0, scheme_end + 1)) + std::string(location);
  const std::string origin(base.substr(0, path_start));
  if (location.empty()) return std::string(base.substr(0, base.find('#')));
  std::string_view query;
  std::string_view path = location;
  const std::size_t q = location.find('?');
  if (q != std::string_view::npos) {
    path = location.substr(0, q);
    query = location.substr(q);
  }
  std::string merged;
  if (!path.empty() && path[0] == '/') {
    merged = std::string(path);
  } else {
    std::string_view base_path = base.substr(path_start);
    base_path = base_path.substr(0, base_path.find_first_of("?#"));
    const std::size_t last = base_path.rfind('/');
    merged = last == std::string_view::npos ? "/" : std::string(base_path.substr(0, last + 1));
    if (path.empty()) {
      // "?q" alone keeps the base's whole path.
      merged = base_path.empty() ? "/" : std::string(base_path);
    } else {
      merged += path;
    }
  }
  return origin + remove_dot_segments(merged) + std::string(query);
}

}  // namespace torvane::engine
