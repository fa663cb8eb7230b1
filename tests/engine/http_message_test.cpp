// Request texts and reply reading, compared byte for byte: a server sees
// exactly these bytes, and a header read one byte too short or too long
// shifts every body byte written after it. FTP replies at the end.
#include "engine/http_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/ftp/ftp_layer.h"
#include "engine/wide_sizes.h"

namespace torvane::engine {
namespace {

TEST(HttpRequest, HeadAndGetTextsByteForByte) {
  // clang-format off
  struct Case {
    const char* name;
    std::vector<std::uint64_t> range_len, range_done;
    int b, auto_referer;
    const char *user_agent, *referer, *extra_header;
    std::string path, host, head, get;
    std::string_view if_range = {};
  } cases[] = {
      // The start sums the ranges before b and b's own progress, never the
      // progress of the divisions before it, and goes past 4 GiB whole.
      // auto_referer 1 names the item URL.
      {"division 2, auto referer", {0x100000004, 0xFFFFFFFFu, 10}, {5, 9, 0x100000001}, 2, 1,
       nullptr, nullptr, nullptr, "/a", "h", "HEAD /a HTTP/1.0\r\nHost: h\r\n\r\n",
       "GET /a HTTP/1.0\r\nRange: bytes=12884901892-\r\nHost: h\r\nAccept: */*\r\n"
       "User-Agent: TVN\r\nReferer: http://h/a\r\nConnection: close\r\n\r\n"},
      // A given referer wins over auto_referer; the client's own agent and
      // lines reach the HEAD too, the referer does not.
      {"everything, in order", {10, 10}, {10, 4}, 1, 1, "UA/2 (x)", "R", "Cookie: a=1\r\nX: y\r\n",
       "/p", "h", "HEAD /p HTTP/1.0\r\nHost: h\r\nUser-Agent: UA/2 (x)\r\nCookie: a=1\r\nX: y\r\n\r\n",
       "GET /p HTTP/1.0\r\nRange: bytes=14-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: UA/2 (x)\r\n"
       "Referer: R\r\nCookie: a=1\r\nX: y\r\nConnection: close\r\n\r\n"},
      // Through a proxy the target is the whole URL and the host keeps its port.
      {"proxy form", {500, 500}, {0, 20}, 1, 0, nullptr, nullptr, nullptr,
       "http://127.0.0.1:8080/d/f.iso", "127.0.0.1:8080",
       "HEAD http://127.0.0.1:8080/d/f.iso HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n",
       "GET http://127.0.0.1:8080/d/f.iso HTTP/1.0\r\nRange: bytes=520-\r\nHost: 127.0.0.1:8080\r\n"
       "Accept: */*\r\nUser-Agent: TVN\r\nConnection: close\r\n\r\n"},
      // The validator the engine holds replaces the client's If-Range line.
      {"if-range", {10}, {3}, 0, 0, nullptr, nullptr, "Cookie: a=1\r\nif-range: \"old\"\r\nX: y\n",
       "/a", "h", "HEAD /a HTTP/1.0\r\nHost: h\r\nCookie: a=1\r\nX: y\n\r\n",
       "GET /a HTTP/1.0\r\nRange: bytes=3-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Cookie: a=1\r\nX: y\nIf-Range: \"new\"\r\nConnection: close\r\n\r\n", "\"new\""},
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
    WideSizes wide{0, c.range_len.data(), c.range_done.data()};
    std::string out = "stale text from an earlier request";
    build_head_request(item, out);
    EXPECT_EQ(out, c.head);
    build_get_request(item, ItemSizes(item, wide).next_byte(c.b), out, c.if_range);
    EXPECT_EQ(out, c.get);
  }
}

// The user part wins over a client's own Authorization line; shown texts mask credentials
// (Basic ones in PastedUrl's notices).
TEST(HttpRequest, UserPartBecomesAuthorizationAndIsMaskedWhenShown) {
  std::string url = "http://u:p@h/a#f", path = "/a", host = "h";
  char extra[] = "authorization: Bearer old\r\nX: y\r\n";
  ItemData item{};
  item.url = url.data();
  item.request_path = path.data();
  item.conn.host = host.data();
  item.extra_header = extra;
  item.div_count = 1;
  std::string head, shown;
  build_head_request(item, head);
  EXPECT_EQ(head, "HEAD /a HTTP/1.0\r\nHost: h\r\nAuthorization: Basic dTpw\r\nX: y\r\n\r\n");
  const std::pair<std::string, std::string> masks[] = {
      {"GET / HTTP/1.0\r\nauthorization: Bearer abc\r\nX: y\r\n\r\n",
       "GET / HTTP/1.0\r\nauthorization: Bearer ********\r\nX: y\r\n\r\n"},
      {"GET ftp://u:pw@h/f HTTP/1.0\r\nHost: h\r\n\r\n",
       "GET ftp://u:********@h/f HTTP/1.0\r\nHost: h\r\n\r\n"},
      {"GET /a HTTP/1.0\r\nX-Authorization: k\r\n\r\n", ""},  // nothing to mask
  };
  for (const auto& [request, masked] : masks) {
    EXPECT_EQ(mask_credentials(request, shown), !masked.empty()) << request;
    EXPECT_EQ(shown, masked.empty() ? request : masked);
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

TEST(HeaderReading, LengthsRangesAndValidators) {
  // -1: invalid; -2: missing; -3: lines that disagree.
  const std::pair<const char*, std::int64_t> lengths[] = {
      {"", -2},
      {"content-length: 4294967296\r\n", 4294967296},
      {"Content-Length: 4611686018427387904\r\n", 4611686018427387904},  // 2^62, the largest
      {"Content-Length: 4611686018427387905\r\n", -1},
      {"Content-Length: 18446744073709551617\r\n", -1},  // wraps a 64-bit sum to 1
      {"Content-Length: \r\n", -1},
      {"Content-Length: 5\r\nContent-Length: 5\r\n", 5},
      {"Content-Length: 5\r\nX: 1\r\ncontent-length: 6\r\n", -3},
      {"Content-Length: 7, 7\r\n", 7},
      {"Content-Length: 7, 8\r\n", -3},
      {"Content-Length: 7\r\nContent-Length: x\r\n", -1},
      {"Transfer-Encoding: gzip, chunked\r\nContent-Length: 9\r\n", -2}};
  for (const auto& [lines, expected] : lengths) {
    std::uint64_t value = 0;
    const LengthResult got =
        read_content_length(std::string("HTTP/1.0 200 OK\r\n") + lines + "\r\n", value);
    const std::int64_t read = got == LengthResult::kOk         ? static_cast<std::int64_t>(value)
                              : got == LengthResult::kMissing  ? -2
                              : got == LengthResult::kConflict ? -3
                                                               : -1;
    EXPECT_EQ(read, expected) << lines;
  }
  // Three digits or none (the decimal reader's limits: these readers and the URL port).
  EXPECT_EQ(read_status_code("HTTP/1.1 20"), kNotANumber);
  EXPECT_EQ(read_status_code("HTTP/1.1 2000"), 200);
  // first-last/total, or "none" when unreadable or impossible.
  const std::pair<const char*, const char*> ranges[] = {
      {"bytes 10-99/100", "10-99/100"},
      {"bytes 0-0/*", "0-0/*"},
      {"bytes 10-100/100", "none"},
      {"bytes 9-8/100", "none"},
      {"bytes 1-2/3x", "none"},
      {"items 0-1/2", "none"},
      {"bytes 4294967296-5368709119/5368709120", "4294967296-5368709119/5368709120"},
      {"bytes 0-1/4611686018427387905", "none"}};
  for (const auto& [value, expected] : ranges) {
    ContentRange r;
    const bool ok = read_content_range(
        std::string("HTTP/1.0 206 P\r\nContent-Range: ") + value + "\r\n\r\n", r);
    const std::string got = !ok ? "none"
                                : std::to_string(r.first) + "-" + std::to_string(r.last) + "/" +
                                      (r.total_known ? std::to_string(r.total) : "*");
    EXPECT_EQ(got, expected) << value;
  }
  // A weak tag cannot stand for a version: the date does.
  const std::string both = "HTTP/1.0 200 OK\r\nETag: \"x\"\r\nLast-Modified: D1\r\n\r\n";
  const std::string weak = "HTTP/1.0 200 OK\r\nETag: W/\"x\"\r\nLast-Modified: D1\r\n\r\n";
  EXPECT_EQ(answer_validator(both), "\"x\"");
  EXPECT_EQ(answer_validator(weak), "D1");
  EXPECT_EQ(validator_like(both, "D0"), "D1");
  EXPECT_EQ(validator_like(weak, "\"y\""), "W/\"x\"");
  std::string_view client;
  EXPECT_TRUE(find_if_range("Cookie: a\r\nIF-RANGE:  \"v\" \r\n", client));
  EXPECT_EQ(client, "\"v\"");
  EXPECT_FALSE(find_if_range("Cookie: a\r\n", client));
}

TEST(ChunkDecoder, EverySplitGivesThePayloadAndOnlyTheEndEnds) {
  const std::string framed =
      "4;name=v\r\nWiki\r\n5\r\npedia\r\nE \r\n in\r\n\r\nchunks.\r\n0\r\nTrailer: x\r\n\r\nafter";
  const std::string payload = "Wikipedia in\r\n\r\nchunks.";
  for (std::size_t cut = 0; cut <= framed.size(); ++cut) {
    std::vector<char> bytes(framed.begin(), framed.end());
    ChunkDecoder decoder;
    std::size_t first = 0, second = 0;
    const auto early = decoder.decode(bytes.data(), cut, first);
    // Payload of the first read stays at the front; the second read's
    // bytes are decoded in place after it, as in a division's share.
    std::memmove(bytes.data() + first, bytes.data() + cut, framed.size() - cut);
    const auto result = decoder.decode(bytes.data() + first, framed.size() - cut, second);
    EXPECT_EQ(std::string(bytes.data(), first + second), payload) << "cut at " << cut;
    EXPECT_EQ(result, ChunkDecoder::Result::kEnd) << "cut at " << cut;
    // Before the blank line after the trailer the body is not complete.
    EXPECT_EQ(early == ChunkDecoder::Result::kEnd, cut >= framed.size() - 5) << "cut at " << cut;
  }
  const std::string lf_only = "3\nabc\n0\n\n";
  std::vector<char> bytes(lf_only.begin(), lf_only.end());
  ChunkDecoder decoder;
  std::size_t n = 0;
  EXPECT_EQ(decoder.decode(bytes.data(), bytes.size(), n), ChunkDecoder::Result::kEnd);
  EXPECT_EQ(std::string(bytes.data(), n), "abc");
  // A chunk may pass 4 GiB; only more than 15 size digits are refused.
  for (const std::string bad : {"x\r\n", "\r\n", "3\r\nabcX", "3\r\nabc\rX",
                                "0000000000000001f\r\n", "3\r\nabc\r\n1000000000000000\r\n"}) {
    std::vector<char> in(bad.begin(), bad.end());
    ChunkDecoder d;
    EXPECT_EQ(d.decode(in.data(), in.size(), n), ChunkDecoder::Result::kBad) << bad;
  }
  std::string wide = "3\r\nabc\r\n140000000\r\nxy";
  ChunkDecoder d;
  EXPECT_EQ(d.decode(wide.data(), wide.size(), n), ChunkDecoder::Result::kMore);
  EXPECT_EQ(wide.substr(0, n), "abcxy");
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
