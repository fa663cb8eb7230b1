// Text scanning, the local-time texts and URL parsing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/extras/local_time_text.h"
#include "gui/extras/text_util.h"
#include "gui/items/url_parse.h"

namespace torvane {
namespace {

TEST(TextUtil, LineEndsAndBreaks) {
  EXPECT_EQ(line_end("a<br>b\r\nc"), 1u);
  EXPECT_EQ(line_end("ab\r\nc<br>"), 2u);
  EXPECT_EQ(line_end("a<BR>b"), kNone);
  EXPECT_EQ(line_end("a\nb"), kNone);
  EXPECT_EQ(skip_line_breaks("\r\n<br>\nx"), 7u);
  EXPECT_EQ(skip_line_breaks("\r\n<br>"), kNone);
  EXPECT_EQ(skip_line_breaks("<br"), 0u);
}

TEST(TextUtil, SplitterYieldsOnlyNonEmptyLines) {
  struct Case {
    std::string_view text;
    std::vector<std::string_view> lines;
  } cases[] = {
      {"\r\n\r\nx<br><br>y\r\n", {"x", "y"}},
      {"one", {"one"}},
      {"", {}},
      {"<br>\r\n", {}},
      {"a\nb\r\nc", {"a\nb", "c"}},
      {"a<br", {"a<br"}},
  };
  for (const Case& c : cases) EXPECT_EQ(split_lines(c.text), c.lines) << c.text;
}

TEST(TextUtil, BoundedSearches) {
  EXPECT_EQ(find_text_ci("X: SET-COOKIE: a", "Set-Cookie: ", 16), 3u);
  EXPECT_EQ(find_text_ci("set-cookie: a", "Set-Cookie: ", 13), kNone);
  // Only the start must lie within count; the match may run past it.
  EXPECT_EQ(find_text("abcdef", "cde", 3), 2u);
  EXPECT_EQ(find_text("abcdef", "cde", 2), kNone);
  EXPECT_EQ(find_text("abc", "abcd", 10), kNone);  // never past the text
  EXPECT_EQ(find_text("abc", "", 3), kNone);
  EXPECT_EQ(find_text("abc", "a", 0), kNone);
  EXPECT_EQ(find_nth_char("a/b/c/d", '/', 3), 5u);
  EXPECT_EQ(find_nth_char("a/b", '/', 2), kNone);
  EXPECT_EQ(find_nth_char("a/b", '/', 0), kNone);
}

TEST(TextUtil, CopyBoundedAlwaysTerminates) {
  char dst[8];
  std::fill(std::begin(dst), std::end(dst), 'z');
  copy_bounded(dst, "abcdef", 3);
  EXPECT_STREQ(dst, "abc");
  copy_bounded(dst, "ab", 7);
  EXPECT_STREQ(dst, "ab");
}

TEST(LocalTimeText, ThreeLayoutsAndNoOther) {
  LocalTime t;
  t.month = 3;
  t.day = 9;
  t.day_of_week = 2;
  t.hour = 14;
  t.minute = 5;
  t.second = 7;
  const ManualClock clock(t);
  std::string out;
  ASSERT_EQ(format_local_time(clock, 0, out), 0);
  EXPECT_EQ(out, "03/09(火) 14:05");
  ASSERT_EQ(format_local_time(clock, 2, out), 0);
  EXPECT_EQ(out, "03月09日(火) 14時05分");
  ASSERT_EQ(format_local_time(clock, 3, out), 0);
  EXPECT_EQ(out, "03月09日(火) 14時05分07秒");
  for (int kind : {1, 4, -1}) {
    out = "kept";
    EXPECT_EQ(format_local_time(clock, kind, out), -1);
    EXPECT_EQ(out, "kept");
  }
  EXPECT_EQ(weekday_word(0), "日");
  EXPECT_EQ(weekday_word(6), "土");
}

TEST(UrlParse, HostAndDomain) {
  struct Case {
    const char* url;
    const char* host;  // nullptr: none
  } cases[] = {
      {"http://www.example.com/a.zip", "www.example.com"},
      {"HTTP://Example.COM/", "Example.COM"},
      {"http://user@host:8080/x", "user@host:8080"},
      {"http:///x", ""},
      {"http://", nullptr},
      {"http://host.example.com", nullptr},
      {"ftp://host/x", nullptr},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> host = url_host(c.url);
    ASSERT_EQ(host.has_value(), c.host != nullptr) << c.url;
    if (host) {
      EXPECT_EQ(*host, c.host);
    }
  }
  EXPECT_EQ(host_domain("a.b.c"), "b.c");
  EXPECT_EQ(host_domain("10.1.2.3"), "2.3");
  EXPECT_EQ(host_domain("www.example.com:8080"), "example.com:8080");
  EXPECT_EQ(host_domain("example.com"), std::nullopt);
  EXPECT_EQ(host_domain("localhost"), std::nullopt);
}

TEST(UrlParse, ExtractPageLinkBySkipCount) {
  const std::string page =
      "<a href=\"http://one.test/x.zip\">x</a>\n"
      "<a href=\"HTTP://no.test/\">no</a>"
      "<a href=\"hTTp://two.test/dir/\">two</a> <a href=\"y.zip\">y</a> http://after.test/y.zip";
  std::string dest = "unchanged";
  ASSERT_EQ(extract_page_link(page, 1, "y.zip", dest), 0);
  EXPECT_EQ(dest, "http://one.test/x.zip");
  ASSERT_EQ(extract_page_link(page, 2, "y.zip", dest), 0);
  EXPECT_EQ(dest, "hTTp://two.test/dir/");
  // Skip 0: the last scheme before the file name, up to the end of the name.
  ASSERT_EQ(extract_page_link(page, 0, "y.zip", dest), 0);
  EXPECT_EQ(dest, "hTTp://two.test/dir/\">two</a> <a href=\"y.zip");

  dest = "unchanged";
  EXPECT_EQ(extract_page_link(page, 4, "y.zip", dest), -1);
  EXPECT_EQ(extract_page_link("only http://a.test/ here", 2, "", dest), -1);
  EXPECT_EQ(extract_page_link("<a href=\"y.zip\"> http://late.test/", 0, "y.zip", dest), -1);
  EXPECT_EQ(extract_page_link(page, 0, "missing.zip", dest), -1);
  EXPECT_EQ(extract_page_link(page, -1, "y.zip", dest), -1);
  EXPECT_EQ(dest, "unchanged");
}

TEST(UrlParse, LongLinksAreCutAt2047) {
  const std::string page = "http://h/" + std::string(5000, 'a');
  std::string dest;
  ASSERT_EQ(extract_page_link(page, 1, "", dest), 0);
  EXPECT_EQ(dest.size(), 2047u);
  ASSERT_EQ(extract_page_link(page + " x.zip", 0, "x.zip", dest), 0);
  EXPECT_EQ(dest.size(), 2047u);
  const std::string line = "ttp://" + std::string(2041, 'b');
  ASSERT_EQ(line.size(), 2047u);
  const std::optional<std::string> url = line_url(line);
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->size(), 2047u);
  EXPECT_EQ(url->substr(0, 8), "http://b");
}

TEST(UrlParse, LineUrl) {
  EXPECT_EQ(line_url("see ttp://a.test/x.zip and more"), "http://a.test/x.zip and more");
  EXPECT_EQ(line_url("get http://a.test/ now"), "http://a.test/ now");
  EXPECT_EQ(line_url("ttp://first http://second"), "http://first http://second");
  EXPECT_EQ(line_url("HTTP://caps.test/"), std::nullopt);
  EXPECT_EQ(line_url("no url"), std::nullopt);
}

}  // namespace
}  // namespace torvane
