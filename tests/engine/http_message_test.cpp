// Request texts and reply reading, compared byte for byte: a server sees
// exactly these bytes, and a header read one byte too short or too long
// shifts every body byte written after it. FTP replies at the end.
#include "engine/http_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ftp_layer.h"

namespace torvane::engine {
namespace {

TEST(HttpRequest, HeadAndGetTextsByteForByte) {
  // clang-format off
  struct Case {
    const char* name;
    std::vector<std::uint32_t> range_len, range_done;
    int b, auto_referer;
    const char *user_agent, *referer, *extra_header;
    std::string path, host, head, get;
  } cases[] = {
      // The start sums the ranges before b and b's own progress, never the
      // progress of the divisions before it, and goes past 4 GiB whole.
      // auto_referer 1 names the item URL.
      {"division 2, auto referer", {0xFFFFFFFFu, 0xFFFFFFFFu, 10}, {5, 9, 3}, 2, 1, nullptr,
       nullptr, nullptr, "/a", "h", "HEAD /a HTTP/1.0\r\nHost: h\r\n\r\n",
       "GET /a HTTP/1.0\r\nRange: bytes=8589934593-\r\nHost: h\r\nAccept: */*\r\n"
       "User-Agent: TVN\r\nReferer: http://h/a\r\nConnection: close\r\n\r\n"},
      // A given referer wins over auto_referer; none of these reach the HEAD.
      {"everything, in order", {10, 10}, {10, 4}, 1, 1, "UA/2 (x)", "R", "Cookie: a=1\r\nX: y\r\n",
       "/p", "h", "HEAD /p HTTP/1.0\r\nHost: h\r\n\r\n",
       "GET /p HTTP/1.0\r\nRange: bytes=14-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: UA/2 (x)\r\n"
       "Referer: R\r\nCookie: a=1\r\nX: y\r\nConnection: close\r\n\r\n"},
      // Through a proxy the target is the whole URL and the host keeps its port.
      {"proxy form", {500, 500}, {0, 20}, 1, 0, nullptr, nullptr, nullptr,
       "http://127.0.0.1:8080/d/f.iso", "127.0.0.1:8080",
       "HEAD http://127.0.0.1:8080/d/f.iso HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n",
       "GET http://127.0.0.1:8080/d/f.iso HTTP/1.0\r\nRange: bytes=520-\r\nHost: 127.0.0.1:8080\r\n"
       "Accept: */*\r\nUser-Agent: TVN\r\nConnection: close\r\n\r\n"},
  };
  // clang-format on
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string url = "http://" + c.host + c.path;
    ItemData item{};
    item.request_path = c.path.data();
    item.conn.host = c.host.data();
    item.url = url.data();
    item.user_agent = const_cast<char*>(c.user_agent);
    item.referer = const_cast<char*>(c.referer);
    item.extra_header = const_cast<char*>(c.extra_header);
    item.auto_referer = c.auto_referer;
    item.div_count = static_cast<std::int32_t>(c.range_len.size());
    item.disk.range_len = c.range_len.data();
    item.disk.range_done = c.range_done.data();
    std::string out = "stale text from an earlier request";
    build_head_request(item, out);
    EXPECT_EQ(out, c.head);
    build_get_request(item, c.b, out);
    EXPECT_EQ(out, c.get);
  }
}

TEST(HeaderEnd, EveryPrefixGivesZeroUntilTheEarliestTerminatorIsComplete) {
  // With the length of the header, its earliest terminator included.
  const std::pair<std::string, std::size_t> samples[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody", 38},
      {"HTTP/1.0 200 OK\nContent-Length: 4\n\nbody", 35},
      {"HTTP/1.0 200 OK\rContent-Length: 4\r\rbody", 35},
      {"HTTP/1.0 200 OK\nContent-Length: 4\n\r\n\rbody", 37},
      {"HTTP/1.0 302 Found\nLocation: /x\n\nX: y\r\n\r\nbody", 33}};
  for (const auto& [bytes, header_len] : samples) {
    // Bytes arrive in any split; each prefix is copied exactly, so reading
    // past it shows under ASan.
    for (std::size_t k = 0; k <= bytes.size(); ++k) {
      const std::vector<char> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(k));
      EXPECT_EQ(find_header_end(prefix.data(), k), k < header_len ? 0 : header_len)
          << '"' << bytes << "\" cut at " << k;
    }
  }
}

TEST(HeaderReading, LocationValue) {
  // A longer name ending in the wanted one is another header.
  const std::pair<std::string, const char*> cases[] = {
      {"HTTP/1.0 302 Found\r\nlocation: /b\r\n\r\n", "/b"},
      {"HTTP/1.0 302 Found\nX: 1\nLocation: /b\n\n", "/b"},
      {"HTTP/1.0 302 Found\r\nContent-Location: /c\r\n\r\n", "(none)"},
      {"HTTP/1.0 302 Found\r\nContent-Location: /c\r\nLocation: /l\r\n\r\n", "/l"}};
  for (const auto& [header, wanted] : cases) {
    std::string_view value;
    const bool found = find_header_value(header, "Location", value);
    EXPECT_EQ(found ? std::string(value) : "(none)", wanted) << header;
  }
}

TEST(HeaderReading, ContentLengthPast32BitsOrNotANumberIsInvalid) {
  // -1: invalid; -2: missing (no line at all for nullptr).
  const std::pair<const char*, std::int64_t> cases[] = {
      {nullptr, -2},      {"4294967295", 4294967295},
      {"4294967296", -1}, {"18446744073709551617", -1},  // wraps a 64-bit sum to 1
      {"12a", -1},        {"", -1}};
  for (const auto& [length, expected] : cases) {
    const std::string line = length ? std::string("content-length: ") + length + "\r\n" : "";
    std::uint32_t value = 77;
    const LengthResult got = read_content_length("HTTP/1.0 200 OK\r\n" + line + "\r\n", value);
    const std::int64_t read =
        got == LengthResult::kOk ? std::int64_t{value} : -1 - (got == LengthResult::kMissing);
    EXPECT_EQ(read, expected) << line;
  }
}

TEST(FtpReply, CompleteOnlyAtAFinalLine) {
  const std::pair<const char*, bool> cases[] = {
      {"220 ready\r\n", true},
      {"220-Welcome\r\n220-more\r\n", false},
      {"220-Welcome\r\n220-more\r\n220 ready\r\n", true},
      {"220-Welcome\n\n220 bare LF, blank line", true},
  };
  for (const auto& [text, complete] : cases)
    EXPECT_EQ(ftp_reply_complete(text, std::strlen(text)), complete) << text;
  // Only the filled part counts, not the stale bytes after it.
  EXPECT_FALSE(ftp_reply_complete("220-partial\r\n220 stale", 16));
}

}  // namespace
}  // namespace torvane::engine
