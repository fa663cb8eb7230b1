#include "engine/url_split.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/heap.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

thread_local HostEntry t_host_entry;

bool proxy_in_use(const ItemData& item) {
  return (item.options & TVN_OPT_USE_PROXY) != 0 && item.proxy != nullptr;
}

// The decimal port behind the first colon; 80 when there is none or it is below 1.
int port_after_colon(const char* colon) {
  if (colon == nullptr) return 80;
  const long value = std::strtol(colon + 1, nullptr, 10);
  return (value < 1 || value > 65535) ? 80 : static_cast<int>(value);
}

}  // namespace

bool has_control_char(const char* text) {
  if (text == nullptr) return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    if (*p < 0x20) return true;
  return false;
}

int split_url(ItemData& item) {
  const char* url = item.url;
  if (url == nullptr || *url == '\0') return 1;
  if (has_control_char(url) || has_control_char(item.proxy) || has_control_char(item.referer) ||
      has_control_char(item.user_agent))
    return 1;
  std::size_t scheme = 0;
  if (strncasecmp(url, "http://", 7) == 0) {
    scheme = 7;
  } else if (strncasecmp(url, "ftp://", 6) == 0) {
    scheme = 6;
  } else {
    return 1;
  }
  const char* host_begin = url + scheme;
  const char* slash = std::strchr(host_begin, '/');
  const std::size_t host_len = slash ? static_cast<std::size_t>(slash - host_begin)
                                     : std::strlen(host_begin);
  char* host = copy_text(host_begin, host_len);
  char* target = nullptr;
  if (proxy_in_use(item)) {
    target = copy_text(url, std::strlen(url));
  } else if (slash != nullptr) {
    target = copy_text(slash, std::strlen(slash));
  } else {
    target = copy_text("/", 1);
  }
  std::free(item.conn.host);
  std::free(item.request_path);
  item.conn.host = host;
  item.request_path = target;
  return (host != nullptr && target != nullptr) ? 0 : 1;
}

int resolve_item(ItemData& item) {
  if (split_url(item) != 0) return 1;
  const bool proxy = proxy_in_use(item);
  std::string name = proxy ? item.proxy : item.conn.host;
  if (item.data_type == TVN_DATA_HTTP || (item.data_type == TVN_DATA_FTP && proxy)) {
    const std::size_t colon = name.find(':');
    item.conn.port = port_after_colon(colon == std::string::npos ? nullptr : name.c_str() + colon);
    if (colon != std::string::npos) {
      name.resize(colon);
      // Without a proxy the Host header then carries the bare host.
      if (!proxy) item.conn.host[colon] = '\0';
    }
  }
  if (platform::resolve_ipv4(name.c_str(), t_host_entry.address) != 0) {
    item.conn.host_entry = nullptr;
    return 1;
  }
  t_host_entry.length = 4;
  item.conn.host_entry = &t_host_entry;
  return 0;
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
    platform::socket_close(fd);
    return 2;
  }
  return 0;
}

}  // namespace torvane::engine
