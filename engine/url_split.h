// URL split, host resolution and connection start for one item: which host
// and port to connect to (the URL's host or the proxy), the request target,
// the IPv4 socket address, and a non-blocking connect per division.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "torvane/torvane.h"

namespace torvane::engine {

// Splits `url` into conn.host and request_path (both engine-owned, replaced).
// The target is the path with its query ("/" when there is none), or the
// whole URL when a proxy is in use. 0, or 1 when the URL is empty, has a
// scheme other than http:// or ftp://, holds a control character (which
// would inject lines into a request; so do such bytes in the proxy, Referer
// or User-Agent), or memory runs out.
int split_url(ItemData& item);

// Splits the URL, chooses the name to look up (the proxy when in use) and
// the port (data_type 1, or 2 with a proxy: the number after the first
// colon, 80 when missing or below 1; the host part is then cut at its colon
// when no proxy is used), and resolves it. Blocking lookup. 0 or 1.
int resolve_item(ItemData& item);

// Fills conn.address from the last resolution on this thread and conn.port.
void fill_address(ItemData& item);

// Creates division i's socket and starts its connect. 0 started (or already
// connected), 1 no socket, 2 the connect failed at once (socket closed).
int connect_division(ItemData& item, int i);

// The host entry a resolution leaves behind: per thread, like the lookup
// result it stands for; conn.host_entry points at it.
struct HostEntry {
  std::int32_t length;
  std::uint8_t address[4];
};

// The URL a redirect's Location names, resolved against the URL it answered
// (HTTP allows a relative reference): an absolute URL as it stands, "//host/p"
// with the base's scheme, "/p" on the base's host, anything else beside the
// base's last path segment; "." and ".." segments are removed and a fragment
// is dropped.
std::string resolve_location(std::string_view base, std::string_view location);

// True when `text` holds a byte below 0x20 (CR, LF and the other controls).
bool has_control_char(const char* text);

}  // namespace torvane::engine
