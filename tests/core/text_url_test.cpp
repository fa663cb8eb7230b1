// Text scanning, URL parsing, URL pattern expansion, the proxy the
// environment names, and the one number reader under its callers' rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text/number_text.h"
#include "core/text/pattern_expand.h"
#include "core/text/proxy_env.h"
#include "core/text/text_util.h"
#include "core/text/url_parse.h"

namespace torvane {

TEST(TextAndUrls, SplitSearchHostsAndLinks) {
  EXPECT_EQ(split_lines("\r\n\r\nx<br><br>y\r\n"), (std::vector<std::string_view>{"x", "y"}));
  EXPECT_EQ(split_lines("a\nb\r\nc<BR>d<br"), (std::vector<std::string_view>{"a\nb", "c<BR>d<br"}));
  // The first character is matched exactly (see the links below), the rest in any case.
  EXPECT_EQ(find_text_ci("X: SET-COOKIE: a", "Set-Cookie: ", 16), 3u);
  // Only the start must lie within count; the match may run past it, not past the text.
  EXPECT_EQ(find_text("abcdef", "cde", 3), 2u);
  EXPECT_EQ(url_host("HTTP://user@Example.COM:8080/"), "user@Example.COM:8080");
  EXPECT_EQ(url_host("http://host.example.com"), std::nullopt);  // no '/' after the host
  EXPECT_EQ(host_domain("example.com"), std::nullopt);
  EXPECT_EQ(line_url("see ttp://a.test/x.zip or http://b"), "http://a.test/x.zip or http://b");
  EXPECT_EQ(line_url("HTTP://caps.test/"), std::nullopt);
  const std::string page =
      "<a href=\"http://one.test/x.zip\">x</a>\n<a href=\"HTTP://no.test/\">no</a>"
      "<a href=\"hTTp://two.test/dir/\">two</a> <a href=\"y.zip\">y</a> http://after.test/y.zip";
  // The link, or "failed" and what the destination held.
  const auto link = [](std::string_view text, int skip, std::string_view name) {
    std::string dest = "unchanged";
    return extract_page_link(text, skip, name, dest) == 0 ? dest : "failed " + dest;
  };
  EXPECT_EQ(link(page, 4, "y.zip"), "failed unchanged");
  EXPECT_EQ(link(page, 2, "y.zip"), "hTTp://two.test/dir/");  // "HTTP://" is not counted
  // Skip 0: the last scheme before the file name, up to the end of the name.
  EXPECT_EQ(link(page, 0, "y.zip"), "hTTp://two.test/dir/\">two</a> <a href=\"y.zip");
  // Links are cut to 2047 characters.
  EXPECT_EQ(line_url("ttp://" + std::string(2041, 'b')), "http://" + std::string(2040, 'b'));
  EXPECT_EQ(link("http://h/" + std::string(5000, 'a'), 1, ""),
            "http://h/" + std::string(2038, 'a'));
}

// Only the password goes; an '@' or ':' beyond the host is no user part.
// https is taken wherever http is: the profile host (without the default
// port), the line a URL is picked from, and the links of a page.
TEST(TextAndUrls, HttpsWhereverHttp) {
  const std::pair<std::string_view, std::optional<std::string>> hosts[] = {
      {"https://Example.com/a", "Example.com"},
      {"HTTPS://u:p@h.test:443/", "u:p@h.test"},  // one profile for "h" and "h:443"
      {"http://h.test:443/", "h.test:443"},       // 443 is only https's own port
      {"httpss://h/", std::nullopt},
  };
  for (const auto& [url, host] : hosts) EXPECT_EQ(url_host(url), host) << url;
  const std::pair<std::string_view, std::optional<std::string>> lines[] = {
      {"get ttps://a.test/x.zip", "https://a.test/x.zip"},
      {"https://a.test/ then http://b", "https://a.test/ then http://b"},
      {"ttps://a then http://b", "https://a then http://b"},
      {"http://a then ttps://b", "http://a then ttps://b"},
  };
  for (const auto& [line, url] : lines) EXPECT_EQ(line_url(line), url) << line;
  const std::string page =
      "<a href=\"https://one.test/x.zip\">x</a> <a href=\"hTTPs://two.test/\">y.zip</a>";
  std::string dest;
  ASSERT_EQ(extract_page_link(page, 2, "", dest), 0);
  EXPECT_EQ(dest, "hTTPs://two.test/");
  ASSERT_EQ(extract_page_link(page, 0, "x.zip", dest), 0);
  EXPECT_EQ(dest, "https://one.test/x.zip");
}

TEST(TextAndUrls, DisplayedUrlsHideThePassword) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"http://u:p%40ss@h:81/f?x@y", "http://u:********@h:81/f?x@y"},
      {"http://u@h/f", "http://u@h/f"},
      {"http://h/a:b@c", "http://h/a:b@c"},
      {"http://h:81#u:p@", "http://h:81#u:p@"},
      {"u:p@h", "u:p@h"},
  };
  for (const auto& [url, shown] : rows) EXPECT_EQ(url_for_display(url), shown) << url;
}

// prefix + zero-padded n + suffix for n in [from, to], each line ending in CR LF.
std::string series(const char* prefix, int from, int to, int width, const char* suffix) {
  std::string out;
  char line[64];
  for (int n = from; n <= to; ++n)
    out.append(line, std::snprintf(line, sizeof line, "%s%0*d%s\r\n", prefix, width, n, suffix));
  return out;
}

TEST(ExpandPattern, FormsLimitsErrorsAndExtraNames) {
  for (const char* input : {"dir/img001-120.jpg", "dir/img001.jpg-img120.jpg", "dir/img001.jpg-120",
                            "dir/img[001-120].jpg", "dir/img120-001.jpg"})
    EXPECT_EQ(expand_pattern(input), series("dir/img", 1, 120, 3, ".jpg")) << input;
  EXPECT_EQ(expand_pattern("d/a98-b02.jpg"),
            series("d/a", 98, 99, 2, ".jpg") + series("d/b", 0, 2, 2, ".jpg"));
  for (const char* input : {"a.jpg-c", "c-a.jpg"})
    EXPECT_EQ(expand_pattern(input), "a.jpg\r\nb.jpg\r\nc.jpg\r\n") << input;
  EXPECT_EQ(expand_pattern("aZz-bAa"), "aZz\r\nbAa\r\n");  // past 'z' is 'a', past 'Z' is 'A'
  // A dash only in the folder part, at the end, or an empty range: unchanged.
  for (const char* input : {"http://my-host/pic.jpg", "dir/pic-", "a-a"})
    EXPECT_EQ(expand_pattern(input), std::string(input) + "\r\n") << input;
  // At most a thousand files in every form.
  for (const char* input : {"img000-999", "aaa-bml"})
    EXPECT_EQ(std::ranges::count(expand_pattern(input), '\n'), 1000) << input;
  for (const char* input : {"img0000-1000", "aaa-bmm", "aaaaaaaaaaaaaaaaaaaa-zzzzzzzzzzzzzzzzzzzz"})
    EXPECT_EQ(expand_pattern(input), expand_error_too_many()) << input;
  EXPECT_EQ(expand_pattern("dir/-5.jpg"), kExpandErrorInput);
  EXPECT_EQ(expand_pattern("img1-100"), kExpandErrorDigits);
  EXPECT_EQ(expand_pattern("a1-b.jpg"), kExpandErrorForm);
  // Names after '+' come last, last one first, also after an error.
  EXPECT_EQ(expand_pattern("d/a1-3.jpg+x.jpg+y.jpg+z.jpg"),
            series("d/a", 1, 3, 1, ".jpg") + "d/z.jpg\r\nd/y.jpg\r\nd/x.jpg\r\n");
  EXPECT_EQ(expand_pattern("d/img1-100+x.jpg"), std::string(kExpandErrorDigits) + "d/x.jpg\r\n");
}

namespace {

TEST(ProxyEnv, ProxyOfTheUrlsSchemeUnlessNoProxyCoversTheHost) {
  struct Row {
    std::string_view url, http_proxy, https_proxy, no_proxy;
    std::optional<std::string> proxy;
  } rows[] = {
      {"http://a.example/x", "http://127.0.0.1:3128/", "", "", "127.0.0.1:3128"},
      {"http://a.example/x", "proxy.lan", "", "", "proxy.lan:80"},
      {"http://a.example/x", "", "proxy.lan:1", "", std::nullopt},
      {"http://a.example/x", "http://", "", "", std::nullopt},
      // https:// URLs take https_proxy only, and only a proxy spoken to in
      // plain HTTP.
      {"https://a.example/x", "proxy.lan:1", "http://proxy.lan:2/", "", "proxy.lan:2"},
      {"https://a.example/x", "proxy.lan:1", "", "", std::nullopt},
      {"https://a.example/x", "", "https://proxy.lan:2/", "", std::nullopt},
      // no_proxy: a name, a domain with or without its dot, a port, "*", any case.
      {"http://A.Example:81/x", "proxy.lan:1", "", "b.example, a.example", std::nullopt},
      {"http://x.a.example/x", "proxy.lan:1", "", ".a.example", std::nullopt},
      {"http://x.a.example/x", "proxy.lan:1", "", "a.example:8080", std::nullopt},
      {"http://xa.example/x", "proxy.lan:1", "", "a.example", "proxy.lan:1"},
      {"http://user@127.0.0.1/x", "proxy.lan:1", "", "*", std::nullopt},
  };
  for (const Row& row : rows)
    EXPECT_EQ(proxy_from_environment(row.url, row.http_proxy, row.https_proxy, row.no_proxy),
              row.proxy)
        << row.url << " / " << row.http_proxy << " / " << row.https_proxy << " / " << row.no_proxy;
}

constexpr std::optional<std::int64_t> kNoNumber;  // the row expects no number
constexpr std::int64_t kHistoryCap = 9'999'999'999'999'999;

// An INI integer and a size-table bound: leading, signed, saturated to int.
constexpr NumberRules kIniRules{
    .blanks = LeadingBlanks::kSpacesAndTabs, .sign = true, .leading = true, .saturate = true};
constexpr NumberRules kRangeRules{
    .blanks = LeadingBlanks::kAnyWhiteSpace, .sign = true, .leading = true, .saturate = true};
// A progress size and a FileSize amount: leading digits, no sign.
constexpr NumberRules kSizeRules{
    .blanks = LeadingBlanks::kSpaces, .leading = true, .saturate = true};
// A history size: signed, saturated either way.
constexpr NumberRules kHistoryRules{.sign = true, .leading = true, .saturate = true};
// A command-line count and a series number: the digits and nothing else.
constexpr NumberRules kWholeRules{};

struct Row {
  const char* text;
  NumberRules rules;
  std::int64_t low, high;
  std::optional<std::int64_t> expected;
  std::size_t end;  // where the number ends (rows with a number)
};

TEST(NumberText, EachCallersRules) {
  const Row rows[] = {
      // INI integers
      {"", kIniRules, INT_MIN, INT_MAX, kNoNumber, 0},
      {" \t+12abc", kIniRules, INT_MIN, INT_MAX, 12, 5},
      {"\v5", kIniRules, INT_MIN, INT_MAX, kNoNumber, 0},
      {"-2147483648", kIniRules, INT_MIN, INT_MAX, INT_MIN, 11},
      {"2147483648", kIniRules, INT_MIN, INT_MAX, INT_MAX, 10},
      {"00000000000000000000000007", kIniRules, INT_MIN, INT_MAX, 7, 26},
      // size-table bounds take any white space
      {"\n\v\f\r 3-9", kRangeRules, INT_MIN, INT_MAX, 3, 6},
      // sizes: no sign, saturated at 32 bits, "12/40" reads 12
      {"  12/40", kSizeRules, 0, UINT32_MAX, 12, 4},
      {"4294967296", kSizeRules, 0, UINT32_MAX, UINT32_MAX, 10},
      {"\t5", kSizeRules, 0, UINT32_MAX, kNoNumber, 0},
      // history sizes: saturated either way, past the 64-bit range too
      {"-9223372036854775809", kHistoryRules, -kHistoryCap, kHistoryCap, -kHistoryCap, 20},
      // whole numbers: nothing but digits, and within range or nothing
      {"64", kWholeRules, 1, 64, 64, 2},
      {"65", kWholeRules, 1, 64, kNoNumber, 0},
      {" 1", kWholeRules, 1, 64, kNoNumber, 0},
      {"999999999999999999", kWholeRules, 0, 999'999'999'999'999'999, 999'999'999'999'999'999, 18},
      // signed whole numbers at the ends of the 64-bit range
      {"-9223372036854775808", {.sign = true}, INT64_MIN, INT64_MAX, INT64_MIN, 20},
      {"9223372036854775808", {.sign = true}, INT64_MIN, INT64_MAX, kNoNumber, 0},
      {"-3", {.sign = true, .saturate = true}, 1, 9, 1, 2},
  };
  for (const Row& row : rows) {
    std::size_t end = 0;
    const std::optional<std::int64_t> n =
        parse_number(row.text, row.low, row.high, row.rules, &end);
    EXPECT_EQ(std::pair(n, n ? end : 0), std::pair(row.expected, row.end))
        << '"' << row.text << '"';
  }
}

}  // namespace
}  // namespace torvane
