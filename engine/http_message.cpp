#include "engine/http_message.h"

#include <cstring>

#include "engine/ranges.h"
#include "platform/ascii.h"

namespace torvane::engine {
namespace {

void append_line(std::string& out, const char* name, const char* value) {
  out += name;
  out += value;
  out += "\r\n";
}

}  // namespace

void build_head_request(const ItemData& item, std::string& out) {
  out.clear();
  out += "HEAD ";
  out += item.request_path;
  out += " HTTP/1.0\r\nHost: ";
  out += item.conn.host;
  out += "\r\n\r\n";
}

void build_get_request(const ItemData& item, int b, std::string& out) {
  const std::uint64_t start = division_start(item.disk.range_len, b) + item.disk.range_done[b];
  out.clear();
  out += "GET ";
  out += item.request_path;
  out += " HTTP/1.0\r\nRange: bytes=";
  out += std::to_string(start);
  out += "-\r\nHost: ";
  out += item.conn.host;
  out += "\r\nAccept: */*\r\n";
  append_line(out, "User-Agent: ", item.user_agent != nullptr ? item.user_agent : "TVN");
  if (item.referer != nullptr) {
    append_line(out, "Referer: ", item.referer);
  } else if (item.auto_referer == 1 && item.url != nullptr) {
    append_line(out, "Referer: ", item.url);
  }
  if (item.extra_header != nullptr) out += item.extra_header;
  out += "Connection: close\r\n\r\n";
}

std::size_t find_header_end(const char* data, std::size_t len) {
  // One scan finds the earliest terminator; at equal positions the longer
  // form wins only if it starts there ("\r\n\r\n" before "\r\r" cannot tie).
  for (std::size_t i = 0; i + 1 < len; ++i) {
    const char c = data[i];
    if (c != '\r' && c != '\n') continue;
    if (c == '\r' && i + 3 < len && std::memcmp(data + i, "\r\n\r\n", 4) == 0) return i + 4;
    if (c == '\n' && data[i + 1] == '\n') return i + 2;
    if (c == '\r' && data[i + 1] == '\r') return i + 2;
    if (c == '\n' && i + 3 < len && std::memcmp(data + i, "\n\r\n\r", 4) == 0) return i + 4;
  }
  return 0;
}

int read_status_code(std::string_view header) {
  const std::size_t space = header.find(' ');
  if (space == std::string_view::npos) return kNoSpace;
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (i >= header.size() || header[i] < '0' || header[i] > '9') return kNotANumber;
    code = code * 10 + (header[i] - '0');
  }
  return code;
}

bool find_header_value(std::string_view header, std::string_view name, std::string_view& value) {
  for (std::size_t line = 0; line < header.size();) {
    const std::size_t rest = header.size() - line;
    if (rest > name.size() + 1) {
      bool match = true;
      for (std::size_t k = 0; k < name.size() && match; ++k) match = equal_ci(header[line + k], name[k]);
      if (match && header[line + name.size()] == ':' && header[line + name.size() + 1] == ' ') {
        const std::size_t begin = line + name.size() + 2;
        std::size_t end = begin;
        while (end < header.size() && header[end] != '\r' && header[end] != '\n') ++end;
        value = header.substr(begin, end - begin);
        return true;
      }
    }
    const std::size_t next = header.find_first_of("\r\n", line);
    if (next == std::string_view::npos) break;
    line = next + 1;
  }
  return false;
}

LengthResult read_content_length(std::string_view header, std::uint32_t& value) {
  std::string_view text;
  if (!find_header_value(header, "Content-Length", text)) return LengthResult::kMissing;
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return LengthResult::kInvalid;
  std::uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return LengthResult::kInvalid;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
    if (number > 0xFFFFFFFFull) return LengthResult::kInvalid;
  }
  value = static_cast<std::uint32_t>(number);
  return LengthResult::kOk;
}

bool read_content_range_start(std::string_view header, std::uint64_t& start) {
  std::string_view text;
  if (!find_header_value(header, "Content-Range", text)) return false;
  if (text.substr(0, 6) != "bytes ") return false;
  text.remove_prefix(6);
  std::uint64_t number = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (number > (1ull << 62)) return false;
  }
  if (i == 0 || i >= text.size() || text[i] != '-') return false;
  start = number;
  return true;
}

}  // namespace torvane::engine
