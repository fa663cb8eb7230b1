#include "engine/http_message.h"

#include <algorithm>
#include <cstring>

#include "engine/decimal.h"
#include "engine/url_split.h"
#include "engine/wide_sizes.h"
#include "platform/ascii.h"

namespace torvane::engine {
namespace {

void append_line(std::string& out, const char* name, const char* value) {
  out += name;
  out += value;
  out += "\r\n";
}

// `line` starts with `name` ("If-Range:"), in any case.
bool is_line_named(std::string_view line, std::string_view name) {
  return line.size() >= name.size() && equal_ci(line.substr(0, name.size()), name);
}

bool is_if_range_line(std::string_view line) {
  return is_line_named(line, "If-Range:");
}

// The credentials of the URL's user part; none leave the engine in a URL.
void append_authorization(std::string& out, const std::string& credentials) {
  if (!credentials.empty()) append_line(out, "Authorization: ", credentials.c_str());
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A decimal size of at most kMaxSize and nothing else, or false.
bool read_size(std::string_view text, std::uint64_t& value) {
  std::size_t at = 0;
  return read_decimal(text, at, kMaxSize, value) && at == text.size();
}

// Content-Range positions are read up to the same bound as sizes.
constexpr std::uint64_t kMaxRangeValue = kMaxSize;

bool is_entity_tag(std::string_view v) {
  return !v.empty() && (v.front() == '"' || v.substr(0, 2) == "W/");
}

}  // namespace

namespace {

// The client's extra lines but its If-Range (the engine sends the validator
// it holds; two lines would contradict each other) and, when the URL has a
// user part, its Authorization (the URL's wins).
void append_extra_lines(std::string& out, const ItemData& item, bool credentials) {
  if (item.extra_header == nullptr) return;
  std::string_view lines = item.extra_header;
  while (!lines.empty()) {
    const std::size_t end = lines.find('\n');
    const std::size_t len = end == std::string_view::npos ? lines.size() : end + 1;
    const std::string_view line = lines.substr(0, len);
    if (!is_if_range_line(line) && (!credentials || !is_line_named(line, "Authorization:")))
      out += line;
    lines.remove_prefix(len);
  }
}

}  // namespace

void build_head_request(const ItemData& item, std::string& out) {
  out.clear();
  out += "HEAD ";
  out += item.request_path;
  out += " HTTP/1.0\r\nHost: ";
  out += item.conn.host;
  out += "\r\n";
  const std::string credentials = url_authorization(item.url);
  append_authorization(out, credentials);
  // A server that wants the client's own agent or lines (a token, say)
  // wants them on the size request too; the engine's defaults stay off it.
  if (item.user_agent != nullptr) append_line(out, "User-Agent: ", item.user_agent);
  append_extra_lines(out, item, !credentials.empty());
  out += "\r\n";
}

void build_get_request(const ItemData& item, std::uint64_t start, std::string& out,
                       std::string_view if_range) {
  out.clear();
  out += "GET ";
  out += item.request_path;
  out += " HTTP/1.0\r\nRange: bytes=";
  out += std::to_string(start);
  out += "-\r\nHost: ";
  out += item.conn.host;
  out += "\r\n";
  const std::string credentials = url_authorization(item.url);
  append_authorization(out, credentials);
  out += "Accept: */*\r\n";
  append_line(out, "User-Agent: ", item.user_agent != nullptr ? item.user_agent : "TVN");
  UrlParts parts;
  if (item.referer != nullptr) {
    append_line(out, "Referer: ", item.referer);
  } else if (item.auto_referer == 1 && item.url != nullptr && split_parts(item.url, parts)) {
    // Sent as the request itself is: no password, no fragment.
    append_line(out, "Referer: ", outgoing_url(parts, false).c_str());
  }
  append_extra_lines(out, item, !credentials.empty());
  if (!if_range.empty()) {
    out += "If-Range: ";
    out += if_range;
    out += "\r\n";
  }
  out += "Connection: close\r\n\r\n";
}

bool mask_credentials(std::string_view request, std::string& out) {
  constexpr std::string_view kName = "Authorization:";
  out.clear();
  bool masked = false;
  for (std::size_t line = 0; line < request.size();) {
    std::size_t next = request.find('\n', line);
    next = next == std::string_view::npos ? request.size() : next + 1;
    const std::string_view text = request.substr(line, next - line);
    const bool request_line = line == 0;
    line = next;
    const std::size_t target = text.find(' ') + 1;  // npos + 1: none
    if (request_line && target != 0) {
      // An ftp:// URL through a proxy carries its password in the target.
      const std::size_t end = text.find(' ', target);
      const std::string_view url = text.substr(target, end - target);
      const std::string shown = url_without_password(url);
      masked = masked || shown != url;
      out += text.substr(0, target);
      out += shown;
      if (end != std::string_view::npos) out += text.substr(end);
      continue;
    }
    if (!is_line_named(text, kName)) {
      out += text;
      continue;
    }
    // The scheme word stays; everything after it up to the line's end goes.
    std::size_t value = text.find_first_not_of(' ', kName.size());
    std::size_t end = text.find_first_of("\r\n", kName.size());
    if (end == std::string_view::npos) end = text.size();
    if (value > end) value = end;
    const std::size_t space = text.find(' ', value);
    if (space < end) value = space + 1;
    out += text.substr(0, value);
    out += "********";
    out += text.substr(end);
    masked = true;
  }
  return masked;
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
  const std::string_view digits = header.substr(space + 1, 3);
  std::size_t at = 0;
  std::uint64_t code = 0;
  if (!read_decimal(digits, at, 999, code) || at != 3) return kNotANumber;
  return static_cast<int>(code);
}

std::string status_text(std::string_view header, int code) {
  constexpr std::size_t kMostText = 200;
  std::string_view line = header.substr(0, header.find_first_of("\r\n"));
  const std::size_t space = line.find(' ');
  const std::size_t text_at = space == std::string_view::npos ? space : line.find(' ', space + 1);
  std::string_view text = text_at == std::string_view::npos ? "" : trimmed(line.substr(text_at));
  if (text.size() > kMostText) {
    std::size_t cut = kMostText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut);
  }
  if (text.empty()) return "HTTP " + std::to_string(code);
  std::string out = std::to_string(code) + ' ';
  for (const char c : text) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  return out;
}

bool find_if_range(const char* lines, std::string_view& value) {
  if (lines == nullptr) return false;
  for (std::string_view rest = lines; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (is_if_range_line(line)) {
      value = trimmed(line.substr(9));
      return !value.empty();
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

bool find_header_value(std::string_view header, std::string_view name, std::string_view& value) {
  std::size_t from = 0;
  return next_header_value(header, name, from, value);
}

bool next_header_value(std::string_view header, std::string_view name, std::size_t& from,
                       std::string_view& value) {
  for (std::size_t line = from; line < header.size();) {
    const std::size_t rest = header.size() - line;
    if (rest > name.size() + 1) {
      bool match = true;
      for (std::size_t k = 0; k < name.size() && match; ++k)
        match = equal_ci(header[line + k], name[k]);
      if (match && header[line + name.size()] == ':' && header[line + name.size() + 1] == ' ') {
        const std::size_t begin = line + name.size() + 2;
        std::size_t end = begin;
        while (end < header.size() && header[end] != '\r' && header[end] != '\n') ++end;
        value = header.substr(begin, end - begin);
        from = end;
        return true;
      }
    }
    const std::size_t next = header.find_first_of("\r\n", line);
    if (next == std::string_view::npos) break;
    line = next + 1;
  }
  return false;
}

LengthResult read_content_length(std::string_view header, std::uint64_t& value) {
  // The chunk framing delimits such a body; a length beside it means nothing.
  if (is_chunked(header)) return LengthResult::kMissing;
  LengthResult result = LengthResult::kMissing;
  std::string_view text;
  for (std::size_t from = 0; next_header_value(header, "Content-Length", from, text);) {
    // One line may list the value again ("5, 5"): the same length.
    for (;;) {
      const std::size_t comma = text.find(',');
      std::uint64_t number = 0;
      if (!read_size(trimmed(text.substr(0, comma)), number)) return LengthResult::kInvalid;
      if (result == LengthResult::kOk && number != value) return LengthResult::kConflict;
      value = number;
      result = LengthResult::kOk;
      if (comma == std::string_view::npos) break;
      text.remove_prefix(comma + 1);
    }
  }
  return result;
}

bool read_content_range(std::string_view header, ContentRange& range) {
  std::string_view text;
  if (!find_header_value(header, "Content-Range", text)) return false;
  text = trimmed(text);
  if (text.substr(0, 6) != "bytes ") return false;
  text.remove_prefix(6);
  std::size_t at = 0;
  if (!read_decimal(text, at, kMaxRangeValue, range.first) || at >= text.size() ||
      text[at++] != '-')
    return false;
  if (!read_decimal(text, at, kMaxRangeValue, range.last) || at >= text.size() || text[at++] != '/')
    return false;
  range.total_known = text.substr(at) != "*";
  if (range.total_known &&
      (!read_decimal(text, at, kMaxRangeValue, range.total) || at != text.size()))
    return false;
  return range.last >= range.first && (!range.total_known || range.last < range.total);
}

bool is_chunked(std::string_view header) {
  std::string_view text;
  if (!find_header_value(header, "Transfer-Encoding", text)) return false;
  // The last coding applied is the one that frames the body.
  const std::size_t comma = text.rfind(',');
  if (comma != std::string_view::npos) text.remove_prefix(comma + 1);
  return equal_ci(trimmed(text), "chunked");
}

std::string_view answer_validator(std::string_view header) {
  std::string_view tag;
  if (find_header_value(header, "ETag", tag) && trimmed(tag).substr(0, 1) == "\"")
    return trimmed(tag);
  std::string_view date;
  return find_header_value(header, "Last-Modified", date) ? trimmed(date) : std::string_view{};
}

std::string_view validator_like(std::string_view header, std::string_view validator) {
  std::string_view value;
  if (!find_header_value(header, is_entity_tag(validator) ? "ETag" : "Last-Modified", value))
    return {};
  return trimmed(value);
}

bool ChunkDecoder::take_size_char(char c, std::size_t& in) {
  int digit = -1;
  if (is_digit(c)) digit = c - '0';
  if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
  if (digit >= 0) {
    if (++digits_ > 15) return false;
    size_ = size_ * 16 + static_cast<std::uint64_t>(digit);
    ++in;
    return true;
  }
  if (digits_ == 0 || (c != ';' && c != ' ' && c != '\t' && c != '\r' && c != '\n')) return false;
  state_ = c == '\r' || c == '\n' ? State::kSizeLf : State::kExtension;
  in += c == '\n' ? 0 : 1;  // a bare LF is read as the line's end
  return true;
}

void ChunkDecoder::take_data(char* data, std::size_t len, std::size_t& in, std::size_t& out) {
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left_, len - in));
  if (out != in) std::memmove(data + out, data + in, take);
  out += take;
  in += take;
  left_ -= take;
  if (left_ == 0) state_ = State::kDataCr;
}

bool ChunkDecoder::start_chunk() {
  total_ += size_;
  if (total_ > kMaxSize) return false;
  left_ = size_;
  state_ = size_ == 0 ? State::kTrailerStart : State::kData;
  size_ = 0;
  digits_ = 0;
  return true;
}

ChunkDecoder::Result ChunkDecoder::decode(char* data, std::size_t len, std::size_t& payload) {
  std::size_t out = 0;
  for (std::size_t in = 0; in < len && state_ != State::kDone;) {
    const char c = data[in];
    switch (state_) {
      case State::kSize:
        if (!take_size_char(c, in)) return Result::kBad;
        continue;
      case State::kExtension:
        if (c == '\r' || c == '\n') {
          state_ = State::kSizeLf;
          in += c == '\n' ? 0 : 1;
        } else {
          ++in;
        }
        continue;
      case State::kSizeLf:
        if (c != '\n' || !start_chunk()) return Result::kBad;
        ++in;
        continue;
      case State::kData:
        take_data(data, len, in, out);
        continue;
      case State::kDataCr:
        ++in;
        if (c == '\r') {
          state_ = State::kDataLf;
        } else if (c == '\n') {
          state_ = State::kSize;
        } else {
          return Result::kBad;
        }
        continue;
      case State::kDataLf:
        if (c != '\n') return Result::kBad;
        ++in;
        state_ = State::kSize;
        continue;
      case State::kTrailerStart:
        ++in;
        state_ = c == '\r' ? State::kFinalLf : c == '\n' ? State::kDone : State::kTrailer;
        continue;
      case State::kTrailer:
        ++in;
        if (c == '\n') state_ = State::kTrailerStart;
        continue;
      case State::kFinalLf:
        if (c != '\n') return Result::kBad;
        ++in;
        state_ = State::kDone;
        continue;
      case State::kDone:
        break;
    }
  }
  payload = out;
  return state_ == State::kDone ? Result::kEnd : Result::kMore;
}

}  // namespace torvane::engine
