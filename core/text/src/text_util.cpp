// Shared text scanning.
#include "core/text/text_util.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "platform/ascii.h"

namespace torvane {
namespace {

constexpr std::string_view kBr = "<br>";

template <typename Equal>
std::size_t find_bounded(std::string_view data, std::string_view pattern, long count,
                         Equal equal_rest) {
  if (pattern.empty() || count <= 0 || data.size() < pattern.size()) return kNone;
  // The match must start among the first `count` offsets and fit in the data.
  std::size_t last_start = data.size() - pattern.size();
  if (static_cast<unsigned long>(count) - 1 < last_start)
    last_start = static_cast<std::size_t>(count) - 1;
  for (std::size_t i = 0; i <= last_start; ++i) {
    if (data[i] != pattern[0]) continue;
    bool match = true;
    for (std::size_t k = 1; k < pattern.size() && match; ++k)
      match = equal_rest(data[i + k], pattern[k]);
    if (match) return i;
  }
  return kNone;
}

}  // namespace

std::size_t line_end(std::string_view text) {
  const std::size_t crlf = text.find("\r\n");
  const std::size_t br = text.find(kBr);
  return crlf < br ? crlf : br;
}

std::size_t skip_line_breaks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      ++i;
    } else if (text.substr(i, kBr.size()) == kBr) {
      i += kBr.size();
    } else {
      return i;
    }
  }
  return kNone;
}

std::size_t find_text(std::string_view data, std::string_view pattern, long count) {
  return find_bounded(data, pattern, count, [](char a, char b) { return a == b; });
}

std::size_t find_text_ci(std::string_view data, std::string_view pattern, long count) {
  return find_bounded(data, pattern, count, [](char a, char b) { return equal_ci(a, b); });
}

std::size_t find_nth_char(std::string_view text, char c, int n) {
  if (n < 1) return kNone;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c && --n == 0) return i;
  }
  return kNone;
}

char* copy_bounded(char* destination, const char* source, std::size_t n) {
  std::size_t i = 0;
  for (; i < n; ++i) {
    destination[i] = source[i];
    if (source[i] == '\0') return destination;
  }
  destination[i] = '\0';
  return destination;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = skip_line_breaks(text);
  while (start != kNone) {
    const std::string_view rest = text.substr(start);
    std::size_t end = line_end(rest);
    if (end == kNone) end = rest.size();
    lines.push_back(rest.substr(0, end));
    const std::size_t next = skip_line_breaks(rest.substr(end));
    start = next == kNone ? kNone : start + end + next;
  }
  return lines;
}

std::string format_text(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, again);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(again);
  return out;
}

bool has_control_char(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::optional<std::string_view> request_own_header(std::string_view name) {
  for (const std::string_view own : {"Range", "If-Range", "Host", "Connection"}) {
    if (equal_ci(name, own)) return own;
  }
  return std::nullopt;
}

}  // namespace torvane
