// URL split, host resolution and connection start for one item: which host
// and port to connect to (the URL's host or the proxy), the request target,
// the IPv4 socket address, and a non-blocking connect per division.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "torvane/torvane.h"

namespace torvane::engine {

// The pieces of an http://, https:// or ftp:// URL as users paste it: the scheme as
// written ("HTTP://"), the user part before the authority's last '@', the
// host with its port, and the path with its query ("" when there is none).
// A "#fragment" belongs to none of them: it is never sent.
struct UrlParts {
  std::string_view scheme, userinfo, host, path;
  bool has_userinfo = false;
};
// False for any other scheme.
bool split_parts(std::string_view url, UrlParts& parts);

// `path` as a request target: "/" when empty (a bare "?q" gets its "/"),
// every byte that may not stand raw in a target (a space, quotes, angle
// brackets, bytes above 0x7E, a '%' without two hex digits...) as "%XX";
// an escape already there is kept as it is.
std::string request_target(std::string_view path);

// The URL as it goes out whole (to a proxy, as an automatic Referer):
// scheme, host and the encoded target. The user part is kept only when asked
// (an ftp:// URL through a proxy, where the proxy logs in with it).
std::string outgoing_url(const UrlParts& parts, bool keep_userinfo);

// True for an https:// URL (any case): its connections run TLS.
bool url_is_https(const char* url);

// "Basic <base64 of user:password>" for an http:// or https:// URL with a user part (user
// and password percent-decoded first; a missing password is empty); "" for
// any other URL.
std::string url_authorization(const char* url);

// `url` with the password of its user part replaced by "********", for texts
// the engine hands out.
std::string url_without_password(std::string_view url);

// Why the item's host cannot be reached, said before any lookup: an IPv6
// literal ("[::1]") as the host connected to (the URL's, or the proxy when
// one is in use). "" when there is nothing to say.
std::string unsupported_host_reason(const ItemData& item);
// Raises notice 401, once per item, with why the last resolve_item on this
// thread failed (the URL refused, an IPv6 host, a host not found): the
// client learns why the item failed before any attempt was made.
void report_resolve_failure(EngineContext* ctx, int slot, ItemData& item);

// Splits `url` into conn.host and request_path (both engine-owned, replaced).
// The target is request_target of the path, or outgoing_url when a proxy is
// in use (but for https://, which reaches the host through a tunnel). 0, or 1 when the URL is
// empty, has a scheme other than http://, https:// or ftp://, holds a control character (which
// would inject lines into a request; so do such bytes in the proxy, Referer
// or User-Agent), or memory runs out.
int split_url(ItemData& item);

// Splits the URL, chooses the name to look up (the proxy when in use) and
// the port (data_type 1, or 2 with a proxy: the number after the first
// colon, 80 when missing or below 1, 443 for an https:// URL without a proxy; the host part is then
// cut at its colon when no proxy is used), and resolves it. Blocking lookup. 0 or 1.
int resolve_item(ItemData& item);

// "host:port" of what the item connects to (the URL's host, or the proxy's
// when one is in use), as the texts for the user name it. After resolve_item.
std::string connect_target(const ItemData& item);

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
