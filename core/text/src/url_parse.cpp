// URL parsing.
#include "core/text/url_parse.h"

#include <algorithm>
#include <new>

#include "core/text/text_util.h"
#include "platform/ascii.h"

namespace torvane {
namespace {

constexpr std::string_view kScheme = "http://";
constexpr std::string_view kTlsScheme = "https://";
// The port an https URL has without one: its host is looked up without it.
constexpr std::string_view kTlsDefaultPort = ":443";

long as_count(std::size_t n) {
  // Counts beyond the long range cannot occur for in-memory texts, but keep
  // the conversion explicit.
  return static_cast<long>(n);
}

// Mixed search for "http://" or "https://" starting at `from`, as an
// offset into `page`: whichever starts first.
std::size_t find_scheme_from(std::string_view page, std::size_t from) {
  if (from >= page.size()) return kNone;
  const std::string_view rest = page.substr(from);
  const long count = as_count(rest.size());
  const std::size_t at =
      std::min(find_text_ci(rest, kScheme, count), find_text_ci(rest, kTlsScheme, count));
  return at == kNone ? kNone : from + at;
}

// The length of the scheme `url` starts with ("http://" or "https://", any
// case), 0 for any other.
std::size_t scheme_length(std::string_view url) {
  for (const std::string_view scheme : {kScheme, kTlsScheme}) {
    if (url.size() >= scheme.size() && equal_ci(url.substr(0, scheme.size()), scheme))
      return scheme.size();
  }
  return 0;
}

bool ends_link(char c) {
  return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '"';
}

std::string cut_url(std::string_view text) {
  return std::string(text.substr(0, kMaxUrlChars));
}

}  // namespace

std::optional<std::string> url_host(std::string_view url) {
  const std::size_t start = scheme_length(url);
  if (start == 0) return std::nullopt;
  const std::size_t slash = url.find('/', start);
  if (slash == std::string_view::npos) return std::nullopt;
  std::string_view host = url.substr(start, slash - start);
  // "https://h:443/" and "https://h/" are one server: one profile.
  if (start == kTlsScheme.size() && host.ends_with(kTlsDefaultPort))
    host.remove_suffix(kTlsDefaultPort.size());
  // Out of memory means "no host": the item then runs on the default profile.
  try {
    return std::string(host);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

std::optional<std::string> host_domain(std::string_view host) {
  const std::size_t last = host.rfind('.');
  if (last == std::string_view::npos || last == 0) return std::nullopt;
  const std::size_t second = host.rfind('.', last - 1);
  if (second == std::string_view::npos) return std::nullopt;
  try {
    return std::string(host.substr(second + 1));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

int extract_page_link(std::string_view page, int skip, std::string_view file_name,
                      std::string& destination) {
  if (skip < 0) return -1;
  if (skip == 0) {
    const std::size_t name_at = find_text(page, file_name, as_count(page.size()));
    if (name_at == kNone) return -1;
    std::size_t last = kNone;
    for (std::size_t at = find_scheme_from(page, 0); at != kNone && at < name_at;
         at = find_scheme_from(page, at + kScheme.size())) {
      last = at;
    }
    if (last == kNone) return -1;
    destination = cut_url(page.substr(last, name_at + file_name.size() - last));
    return 0;
  }
  std::size_t at = find_scheme_from(page, 0);
  for (int n = 1; n < skip && at != kNone; ++n) at = find_scheme_from(page, at + kScheme.size());
  if (at == kNone) return -1;
  std::size_t end = at;
  while (end < page.size() && !ends_link(page[end])) ++end;
  destination = cut_url(page.substr(at, end - at));
  return 0;
}

std::optional<std::string> line_url(std::string_view line) {
  const long count = as_count(line.size());
  // The first of the four spellings; a whole scheme starts one byte before
  // its own tail, so it wins over the tail inside it.
  std::size_t full = kNone;
  std::size_t tail = kNone;
  for (const std::string_view scheme : {kScheme, kTlsScheme}) {
    full = std::min(full, find_text(line, scheme, count));
    tail = std::min(tail, find_text(line, scheme.substr(1), count));
  }
  if (full == kNone && tail == kNone) return std::nullopt;
  if (full != kNone && full <= tail) return cut_url(line.substr(full));
  return cut_url("h" + std::string(line.substr(tail, kMaxUrlChars)));
}

std::string url_for_display(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const std::size_t host = scheme + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", host), url.size());
  const std::size_t at = url.rfind('@', end - 1);
  if (at == std::string_view::npos || at < host) return std::string(url);
  const std::size_t colon = url.find(':', host);
  if (colon > at) return std::string(url);
  return std::string(url.substr(0, colon + 1)) + "********" + std::string(url.substr(at));
}

}  // namespace torvane
