// Request texts and response-header reading, compared byte for byte: a
// server sees exactly these bytes, and a header read one byte too short or
// too long shifts every body byte written after it.
#include "engine/http_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvane::engine {
namespace {

// An item record with only the fields the request builders read, all owned
// here. Strings are copied so the record never points at a temporary.
struct RequestItem {
  std::string path = "/files/a.bin";
  std::string host = "127.0.0.1";
  std::string url = "http://127.0.0.1/files/a.bin";
  std::vector<std::uint32_t> range_len{0};
  std::vector<std::uint32_t> range_done{0};
  const char* user_agent = nullptr;
  const char* referer = nullptr;
  const char* extra_header = nullptr;
  int auto_referer = 0;

  ItemData record() {
    ItemData item{};
    item.request_path = path.data();
    item.conn.host = host.data();
    item.url = url.data();
    item.user_agent = const_cast<char*>(user_agent);
    item.referer = const_cast<char*>(referer);
    item.extra_header = const_cast<char*>(extra_header);
    item.auto_referer = auto_referer;
    item.div_count = static_cast<std::int32_t>(range_len.size());
    item.disk.range_len = range_len.data();
    item.disk.range_done = range_done.data();
    return item;
  }
};

TEST(HttpRequest, HeadCarriesTargetAndHostOnly) {
  // clang-format off
  struct Case {
    const char* name;
    std::string path, host;
    const char* expected;
  } cases[] = {
      {"direct", "/files/a.bin?x=1&y=2", "127.0.0.1",
       "HEAD /files/a.bin?x=1&y=2 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"},
      {"root", "/", "localhost", "HEAD / HTTP/1.0\r\nHost: localhost\r\n\r\n"},
      // Through a proxy the target is the whole URL and the host keeps its port.
      {"proxy", "http://127.0.0.1:8080/d/f.iso", "127.0.0.1:8080",
       "HEAD http://127.0.0.1:8080/d/f.iso HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestItem r;
    r.path = c.path;
    r.host = c.host;
    // Headers that belong to GET only must not leak into the HEAD.
    r.user_agent = "Agent/1";
    r.referer = "http://127.0.0.1/ref";
    r.extra_header = "Cookie: a=1\r\n";
    r.auto_referer = 1;
    const ItemData item = r.record();
    std::string out = "stale text from an earlier request";
    build_head_request(item, out);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(HttpRequest, GetTextsByteForByte) {
  // clang-format off
  struct Case {
    const char* name;
    std::vector<std::uint32_t> range_len, range_done;
    int b;
    const char* user_agent;
    const char* referer;
    int auto_referer;
    const char* extra_header;
    std::string path, host;
    std::string expected;
  } cases[] = {
      {"single open range, defaults", {0}, {0}, 0, nullptr, nullptr, 0, nullptr, "/files/a.bin",
       "127.0.0.1",
       "GET /files/a.bin HTTP/1.0\r\nRange: bytes=0-\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
       "User-Agent: TVN\r\nConnection: close\r\n\r\n"},
      {"division 0 continued", {334, 333, 333}, {100, 0, 0}, 0, nullptr, nullptr, 0, nullptr, "/a",
       "h",
       "GET /a HTTP/1.0\r\nRange: bytes=100-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Connection: close\r\n\r\n"},
      {"division 1 fresh", {334, 333, 333}, {0, 0, 0}, 1, nullptr, nullptr, 0, nullptr, "/a", "h",
       "GET /a HTTP/1.0\r\nRange: bytes=334-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Connection: close\r\n\r\n"},
      // The start counts the ranges before b and b's own progress, never the
      // progress of the divisions before it.
      {"division 2 continued", {334, 333, 333}, {334, 50, 7}, 2, nullptr, nullptr, 0, nullptr, "/a",
       "h",
       "GET /a HTTP/1.0\r\nRange: bytes=674-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Connection: close\r\n\r\n"},
      // Past 4 GiB the start is still written whole.
      {"start past 4 GiB", {0xFFFFFFFFu, 0xFFFFFFFFu, 10}, {0, 0, 3}, 2, nullptr, nullptr, 0,
       nullptr, "/a", "h",
       "GET /a HTTP/1.0\r\nRange: bytes=8589934593-\r\nHost: h\r\nAccept: */*\r\n"
       "User-Agent: TVN\r\nConnection: close\r\n\r\n"},
      {"user agent given", {0}, {0}, 0, "Agent/2.0 (x)", nullptr, 0, nullptr, "/a", "h",
       "GET /a HTTP/1.0\r\nRange: bytes=0-\r\nHost: h\r\nAccept: */*\r\n"
       "User-Agent: Agent/2.0 (x)\r\nConnection: close\r\n\r\n"},
      {"referer given", {0}, {0}, 0, nullptr, "http://127.0.0.1/page.html", 0, nullptr, "/a", "h",
       "GET /a HTTP/1.0\r\nRange: bytes=0-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Referer: http://127.0.0.1/page.html\r\nConnection: close\r\n\r\n"},
      {"referer given wins over auto referer", {0}, {0}, 0, nullptr, "http://127.0.0.1/page.html",
       1, nullptr, "/a", "h",
       "GET /a HTTP/1.0\r\nRange: bytes=0-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Referer: http://127.0.0.1/page.html\r\nConnection: close\r\n\r\n"},
      {"auto referer is the item url", {0}, {0}, 0, nullptr, nullptr, 1, nullptr, "/files/a.bin",
       "127.0.0.1",
       "GET /files/a.bin HTTP/1.0\r\nRange: bytes=0-\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
       "User-Agent: TVN\r\nReferer: http://127.0.0.1/files/a.bin\r\nConnection: close\r\n\r\n"},
      {"auto referer other than 1 adds nothing", {0}, {0}, 0, nullptr, nullptr, 2, nullptr, "/a",
       "h",
       "GET /a HTTP/1.0\r\nRange: bytes=0-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Connection: close\r\n\r\n"},
      {"extra header verbatim", {0}, {0}, 0, nullptr, nullptr, 0,
       "Cookie: a=1; b=2\r\nX-Two: 2\r\n", "/a", "h",
       "GET /a HTTP/1.0\r\nRange: bytes=0-\r\nHost: h\r\nAccept: */*\r\nUser-Agent: TVN\r\n"
       "Cookie: a=1; b=2\r\nX-Two: 2\r\nConnection: close\r\n\r\n"},
      {"everything, in order", {10, 10}, {10, 4}, 1, "UA", "R", 1, "X: y\r\n", "/p?q=1", "h",
       "GET /p?q=1 HTTP/1.0\r\nRange: bytes=14-\r\nHost: h\r\nAccept: */*\r\n"
       "User-Agent: UA\r\nReferer: R\r\nX: y\r\nConnection: close\r\n\r\n"},
      // Through a proxy: whole URL as the target, the host with its port.
      {"proxy form", {500, 500}, {0, 20}, 1, nullptr, nullptr, 0, nullptr,
       "http://127.0.0.1:8080/d/f.iso?v=3", "127.0.0.1:8080",
       "GET http://127.0.0.1:8080/d/f.iso?v=3 HTTP/1.0\r\nRange: bytes=520-\r\n"
       "Host: 127.0.0.1:8080\r\nAccept: */*\r\nUser-Agent: TVN\r\nConnection: close\r\n\r\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestItem r;
    r.range_len = c.range_len;
    r.range_done = c.range_done;
    r.user_agent = c.user_agent;
    r.referer = c.referer;
    r.auto_referer = c.auto_referer;
    r.extra_header = c.extra_header;
    r.path = c.path;
    r.host = c.host;
    r.url = "http://" + c.host + (c.path.front() == '/' ? c.path : "/");
    const ItemData item = r.record();
    std::string out = "stale text from an earlier request";
    build_get_request(item, c.b, out);
    EXPECT_EQ(out, c.expected);
  }
}

// Sample answers with the length of their header (terminator included).
struct HeaderSample {
  const char* name;
  std::string bytes;
  std::size_t header_len;
};

// clang-format off
std::vector<HeaderSample> header_samples() {
  return {
      {"CRLF CRLF", "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody", 38},
      {"LF LF", "HTTP/1.0 200 OK\nContent-Length: 4\n\nbody", 35},
      {"CR CR", "HTTP/1.0 200 OK\rContent-Length: 4\r\rbody", 35},
      {"LF CR LF CR", "HTTP/1.0 200 OK\nContent-Length: 4\n\r\n\rbody", 37},
      // The earliest terminator wins even when a longer one follows later.
      {"LF LF before CRLF CRLF", "HTTP/1.0 302 Found\nLocation: /x\n\nX: y\r\n\r\nbody", 33},
      {"CR CR before CRLF CRLF", "HTTP/1.0 200 OK\r\rA: b\r\n\r\n", 17},
      // Mixed line ends: the CRLF pair is not a terminator, the LF LF is.
      {"CRLF then LF", "HTTP/1.0 200 OK\r\nA: b\r\n\nbody", 24},
      // A status line alone, header ending at once.
      {"status line only", "HTTP/1.0 204 No Content\r\n\r\n", 27},
      // Body bytes that look like terminators do not move the end.
      {"terminators in body", "HTTP/1.0 200 OK\r\n\r\n\n\n\r\r", 19},
      // A terminator that starts a line at once (a blank first line).
      {"leading LF LF", "\n\nHTTP/1.0 200 OK\r\n\r\n", 2},
  };
}
// clang-format on

TEST(HeaderEnd, EveryPrefixGivesZeroUntilTheTerminatorIsComplete) {
  for (const HeaderSample& s : header_samples()) {
    SCOPED_TRACE(s.name);
    ASSERT_LE(s.header_len, s.bytes.size());
    EXPECT_EQ(find_header_end(s.bytes.data(), s.bytes.size()), s.header_len);
    // Bytes arrive in any split: every prefix is what a receive may leave.
    for (std::size_t k = 0; k <= s.bytes.size(); ++k) {
      // A copy of exactly k bytes, so reading past the prefix shows under ASan.
      const std::vector<char> prefix(s.bytes.begin(),
                                     s.bytes.begin() + static_cast<std::ptrdiff_t>(k));
      const std::size_t expected = k < s.header_len ? 0 : s.header_len;
      EXPECT_EQ(find_header_end(prefix.data(), prefix.size()), expected)
          << "prefix of " << k << " bytes";
    }
  }
}

TEST(HeaderEnd, LineEndsThatAreNotTerminators) {
  // clang-format off
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"one CRLF per line", "HTTP/1.0 200 OK\r\nA: b\r\n"},
      {"CR LF CR only", "HTTP/1.0 200 OK\r\n\r"},
      {"LF CR LF only", "HTTP/1.0 200 OK\n\r\n"},
      {"alternating without doubles", "a\rb\nc\r\nd\n\re"},
      {"empty", ""},
      {"single LF", "\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(find_header_end(c.bytes.data(), c.bytes.size()), 0u);
  }
}

TEST(StatusCode, ThreeCharactersBehindTheFirstSpace) {
  // clang-format off
  struct Case {
    std::string header;
    int expected;
  } cases[] = {
      {"HTTP/1.0 206 Partial Content\r\n\r\n", 206},
      {"HTTP/1.1 200 OK\r\n\r\n", 200},
      {"HTTP/1.0 302\r\n\r\n", 302},
      {"HTTP/1.0 999 Odd\r\n\r\n", 999},
      {"HTTP/1.0 100 Continue\r\n\r\n", 100},
      {"HTTP/1.0 099 Low\r\n\r\n", 99},
      {"HTTP/1.0 1234 Long\r\n\r\n", 123},  // only three characters count
      {"HTTP/1.0 404", 404},                // nothing behind the code
      {"HTTP/1.0\r\n\r\n", kNoSpace},
      {"", kNoSpace},
      {"HTTP/1.0 2x6 Bad\r\n\r\n", kNotANumber},
      {"HTTP/1.0 OK\r\n\r\n", kNotANumber},
      {"HTTP/1.0  200 Two spaces\r\n\r\n", kNotANumber},
      {"HTTP/1.0 +20 Sign\r\n\r\n", kNotANumber},
      {"HTTP/1.0 -20 Sign\r\n\r\n", kNotANumber},
      {"HTTP/1.0 20\r\n\r\n", kNotANumber},  // CR inside the three characters
      {"HTTP/1.0 20", kNotANumber},          // the text ends inside the code
      {"HTTP/1.0 ", kNotANumber},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.header << '"');
    EXPECT_EQ(read_status_code(c.header), c.expected);
  }
}

TEST(HeaderValue, NameAtLineStartWithoutRegardToCase) {
  // clang-format off
  struct Case {
    const char* name;
    std::string header;
    const char* wanted;
    bool found;
    std::string value;
  } cases[] = {
      {"exact", "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/b\r\n\r\n", "Location", true,
       "http://127.0.0.1/b"},
      {"lower case", "HTTP/1.0 302 Found\r\nlocation: /b\r\n\r\n", "Location", true, "/b"},
      {"upper case", "HTTP/1.0 302 Found\r\nLOCATION: /b\r\n\r\n", "Location", true, "/b"},
      {"bare LF lines", "HTTP/1.0 302 Found\nX: 1\nLocation: /b\n\n", "Location", true, "/b"},
      {"bare CR lines", "HTTP/1.0 302 Found\rLocation: /b\r\r", "Location", true, "/b"},
      {"value ends at LF", "HTTP/1.0 302 Found\r\nLocation: /b\nX: 1\r\n\r\n", "Location", true,
       "/b"},
      {"value to the end of the text", "HTTP/1.0 302 Found\r\nLocation: /b", "Location", true,
       "/b"},
      {"empty value", "HTTP/1.0 302 Found\r\nLocation: \r\n\r\n", "Location", true, ""},
      {"value keeps inner blanks", "HTTP/1.0 200 OK\r\nServer: a b  c \r\n\r\n", "Server", true,
       "a b  c "},
      {"first of two lines", "HTTP/1.0 302 Found\r\nLocation: /1\r\nLocation: /2\r\n\r\n",
       "Location", true, "/1"},
      // A longer name that ends in the wanted one is another header.
      {"Content-Location is not Location", "HTTP/1.0 302 Found\r\nContent-Location: /c\r\n\r\n",
       "Location",
       false, ""},
      {"Content-Location then Location",
       "HTTP/1.0 302 Found\r\nContent-Location: /c\r\nLocation: /l\r\n\r\n", "Location", true,
       "/l"},
      {"name inside a value", "HTTP/1.0 302 Found\r\nX-Note: Location: /x\r\n\r\n", "Location",
       false, ""},
      // A prefix of the wanted name, or the name without ": ", does not count.
      {"shorter name", "HTTP/1.0 302 Found\r\nLocat: /x\r\n\r\n", "Location", false, ""},
      {"longer name", "HTTP/1.0 302 Found\r\nLocations: /x\r\n\r\n", "Location", false, ""},
      {"no blank after colon", "HTTP/1.0 302 Found\r\nLocation:/x\r\n\r\n", "Location", false, ""},
      {"blank before colon", "HTTP/1.0 302 Found\r\nLocation : /x\r\n\r\n", "Location", false, ""},
      {"text ends after the colon", "HTTP/1.0 302 Found\r\nLocation:", "Location", false, ""},
      {"missing", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n", "Location", false, ""},
      {"empty header", "", "Location", false, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string_view value = "untouched";
    EXPECT_EQ(find_header_value(c.header, c.wanted, value), c.found);
    if (c.found) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(ContentLength, MissingOkOrInvalid) {
  // clang-format off
  struct Case {
    const char* name;
    std::string header;
    LengthResult result;
    std::uint32_t value;
  } cases[] = {
      {"missing", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n", LengthResult::kMissing, 0},
      {"only Content-Length-ish name", "HTTP/1.0 200 OK\r\nX-Content-Length: 5\r\n\r\n",
       LengthResult::kMissing, 0},
      {"zero", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", LengthResult::kOk, 0},
      {"plain", "HTTP/1.0 200 OK\r\nContent-Length: 1048577\r\n\r\n", LengthResult::kOk, 1048577},
      {"lower case name", "HTTP/1.0 200 OK\r\ncontent-length: 8191\r\n\r\n", LengthResult::kOk,
       8191},
      {"bare LF", "HTTP/1.0 200 OK\nContent-Length: 12\n\n", LengthResult::kOk, 12},
      {"largest 32-bit size", "HTTP/1.0 200 OK\r\nContent-Length: 4294967295\r\n\r\n",
       LengthResult::kOk,
       4294967295u},
      {"leading zeros", "HTTP/1.0 200 OK\r\nContent-Length: 000000000000000000000042\r\n\r\n",
       LengthResult::kOk,
       42},
      {"4 GiB", "HTTP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n", LengthResult::kInvalid, 0},
      {"10 GB", "HTTP/1.0 200 OK\r\nContent-Length: 10000000000\r\n\r\n", LengthResult::kInvalid,
       0},
      // Wraps a 64-bit accumulator to 1 if it is not checked digit by digit.
      {"2^64 + 1", "HTTP/1.0 200 OK\r\nContent-Length: 18446744073709551617\r\n\r\n",
       LengthResult::kInvalid, 0},
      {"trailing letter", "HTTP/1.0 200 OK\r\nContent-Length: 12a\r\n\r\n", LengthResult::kInvalid,
       0},
      {"letters", "HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n", LengthResult::kInvalid, 0},
      {"negative", "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", LengthResult::kInvalid, 0},
      {"plus sign", "HTTP/1.0 200 OK\r\nContent-Length: +5\r\n\r\n", LengthResult::kInvalid, 0},
      {"empty", "HTTP/1.0 200 OK\r\nContent-Length: \r\n\r\n", LengthResult::kInvalid, 0},
      {"inner blank", "HTTP/1.0 200 OK\r\nContent-Length: 1 2\r\n\r\n", LengthResult::kInvalid, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint32_t value = 77;
    EXPECT_EQ(read_content_length(c.header, value), c.result);
    if (c.result == LengthResult::kOk) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(ContentRange, FirstBytePosition) {
  // clang-format off
  struct Case {
    const char* name;
    std::string header;
    bool ok;
    std::uint64_t start;
  } cases[] = {
      {"usual", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 9000-9999/10000\r\n\r\n",
       true, 9000},
      {"from zero", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/1\r\n\r\n", true, 0},
      {"lower case", "HTTP/1.1 206 Partial Content\r\ncontent-range: bytes 5-9/10\r\n\r\n", true,
       5},
      {"unknown total", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 7-9/*\r\n\r\n", true,
       7},
      {"past 4 GiB",
       "HTTP/1.1 206 Partial Content\r\n"
        "Content-Range: bytes 4294967296-4294967299/5000000000\r\n\r\n",
       true, 4294967296ull},
      {"missing", "HTTP/1.1 206 Partial Content\r\nContent-Length: 3\r\n\r\n", false, 0},
      {"unsatisfied form",
       "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */10000\r\n\r\n", false, 0},
      {"other unit", "HTTP/1.1 206 Partial Content\r\nContent-Range: items 1-2/3\r\n\r\n", false,
       0},
      {"no dash", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 12\r\n\r\n", false, 0},
      {"no number", "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes -5/10\r\n\r\n", false, 0},
      {"no unit", "HTTP/1.1 206 Partial Content\r\nContent-Range: 5-9/10\r\n\r\n", false, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t start = 12345;
    EXPECT_EQ(read_content_range_start(c.header, start), c.ok);
    if (c.ok) {
      EXPECT_EQ(start, c.start);
    }
  }
}

}  // namespace
}  // namespace torvane::engine
