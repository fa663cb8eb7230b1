// URL parsing.
#include "core/text/url_parse.h"

#include <algorithm>
#include <new>

#include "core/text/text_util.h"

namespace torvane {
namespace {

constexpr std::string_view kScheme = "http://";

long as_count(std::size_t n) {
  // Counts beyond the long range cannot occur for in-memory texts, but keep
  // the conversion explicit.
  return static_cast<long>(n);
}

// Mixed search for "http://" starting at `from`, as an offset into `page`.
std::size_t find_scheme_from(std::string_view page, std::size_t from) {
  if (from >= page.size()) return kNone;
  const std::string_view rest = page.substr(from);
  const std::size_t at = find_text_ci(rest, kScheme, as_count(rest.size()));
  return at == kNone ? kNone : from + at;
}

bool ends_link(char c) {
  return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '"';
}

std::string cut_url(std::string_view text) {
  return std::string(text.substr(0, kMaxUrlChars));
}

}  // namespace

std::optional<std::string> url_host(std::string_view url) {
  if (url.size() <= kScheme.size()) return std::nullopt;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kScheme[i]) return std::nullopt;
  }
  const std::size_t slash = url.find('/', kScheme.size());
  if (slash == std::string_view::npos) return std::nullopt;
  // Out of memory means "no host": the item then runs on the default profile.
  try {
    return std::string(url.substr(kScheme.size(), slash - kScheme.size()));
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
  const std::size_t full = find_text(line, kScheme, count);
  const std::size_t tail = find_text(line, kScheme.substr(1), count);
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
