// Text scanning, URL parsing and URL pattern expansion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/extras/pattern_expand.h"
#include "gui/extras/text_util.h"
#include "gui/items/url_parse.h"

namespace torvane {

TEST(TextUtil, SplitterBreaksOnCrLfAndLowerCaseBr) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(split_lines("\r\n\r\nx<br><br>y\r\n"), (Lines{"x", "y"}));
  EXPECT_EQ(split_lines("<br>\r\n"), Lines{});
  EXPECT_EQ(split_lines("a\nb\r\nc<BR>d<br"), (Lines{"a\nb", "c<BR>d<br"}));
}

TEST(TextUtil, BoundedSearches) {
  EXPECT_EQ(find_text_ci("X: SET-COOKIE: a", "Set-Cookie: ", 16), 3u);
  EXPECT_EQ(find_text_ci("set-cookie: a", "Set-Cookie: ", 13), kNone);
  // Only the start must lie within count; the match may run past it, not past the text.
  EXPECT_EQ(find_text("abcdef", "cde", 3), 2u);
  EXPECT_EQ(find_text("abcdef", "cde", 2), kNone);
  EXPECT_EQ(find_text("abc", "abcd", 10), kNone);
}

TEST(UrlParse, HostAndDomain) {
  EXPECT_EQ(url_host("HTTP://Example.COM/"), "Example.COM");
  EXPECT_EQ(url_host("http://user@host:8080/x"), "user@host:8080");
  EXPECT_EQ(url_host("http://host.example.com"), std::nullopt);  // no '/' after the host
  EXPECT_EQ(url_host("ftp://host/x"), std::nullopt);
  EXPECT_EQ(host_domain("a.b.c"), "b.c");
  EXPECT_EQ(host_domain("www.example.com:8080"), "example.com:8080");
  EXPECT_EQ(host_domain("example.com"), std::nullopt);
}

TEST(UrlParse, ExtractPageLinkBySkipCount) {
  const std::string page =
      "<a href=\"http://one.test/x.zip\">x</a>\n<a href=\"HTTP://no.test/\">no</a>"
      "<a href=\"hTTp://two.test/dir/\">two</a> <a href=\"y.zip\">y</a> http://after.test/y.zip";
  std::string dest = "unchanged";
  EXPECT_EQ(extract_page_link(page, 4, "y.zip", dest), -1);
  EXPECT_EQ(dest, "unchanged");
  ASSERT_EQ(extract_page_link(page, 1, "y.zip", dest), 0);
  EXPECT_EQ(dest, "http://one.test/x.zip");
  ASSERT_EQ(extract_page_link(page, 2, "y.zip", dest), 0);
  EXPECT_EQ(dest, "hTTp://two.test/dir/");
  // Skip 0: the last scheme before the file name, up to the end of the name.
  ASSERT_EQ(extract_page_link(page, 0, "y.zip", dest), 0);
  EXPECT_EQ(dest, "hTTp://two.test/dir/\">two</a> <a href=\"y.zip");
}

TEST(UrlParse, LineUrlAndLongLinksCutAt2047) {
  EXPECT_EQ(line_url("see ttp://a.test/x.zip and more"), "http://a.test/x.zip and more");
  EXPECT_EQ(line_url("HTTP://caps.test/"), std::nullopt);
  const std::string line = "ttp://" + std::string(2041, 'b');
  EXPECT_EQ(line_url(line), "h" + line.substr(0, 2046));
  const std::string page = "http://h/" + std::string(5000, 'a');
  std::string dest;
  ASSERT_EQ(extract_page_link(page, 1, "", dest), 0);
  EXPECT_EQ(dest, page.substr(0, 2047));
  ASSERT_EQ(extract_page_link(page + " x.zip", 0, "x.zip", dest), 0);
  EXPECT_EQ(dest, page.substr(0, 2047));
}

// prefix + zero-padded n + suffix for n in [from, to], each line ending in CR LF.
static std::string series(const char* prefix, int from, int to, int width, const char* suffix) {
  std::string out;
  char line[64];
  for (int n = from; n <= to; ++n) {
    out.append(line, std::snprintf(line, sizeof line, "%s%0*d%s\r\n", prefix, width, n, suffix));
  }
  return out;
}

TEST(ExpandPattern, NumberAndLetterForms) {
  for (const char* input : {"dir/img001-120.jpg", "dir/img001.jpg-img120.jpg", "dir/img001.jpg-120",
                            "dir/img[001-120].jpg", "dir/img120-001.jpg"}) {
    EXPECT_EQ(expand_pattern(input), series("dir/img", 1, 120, 3, ".jpg")) << input;
  }
  EXPECT_EQ(expand_pattern("img110-9"), series("img11", 0, 9, 1, ""));
  EXPECT_EQ(expand_pattern("d/a98-b02.jpg"),
            series("d/a", 98, 99, 2, ".jpg") + series("d/b", 0, 2, 2, ".jpg"));
  for (const char* input : {"a.jpg-c", "a-c.jpg", "c-a.jpg"}) {
    EXPECT_EQ(expand_pattern(input), "a.jpg\r\nb.jpg\r\nc.jpg\r\n") << input;
  }
  const std::string aa_bz = expand_pattern("aa-bz");  // 52 lines of 4 characters
  ASSERT_EQ(aa_bz.size(), 52u * 4);
  EXPECT_EQ(aa_bz.substr(25 * 4, 8), "az\r\nba\r\n");
  EXPECT_EQ(aa_bz.substr(51 * 4), "bz\r\n");
  // A dash only in the folder part, at the end, or an empty range: unchanged.
  for (const char* input : {"http://my-host/pic.jpg", "dir/pic-", "a-a"}) {
    EXPECT_EQ(expand_pattern(input), std::string(input) + "\r\n") << input;
  }
}

TEST(ExpandPattern, AtMostAThousandFiles) {
  for (const char* input : {"img000-999", "a00-j99", "aaa-bml"}) {
    const std::string out = expand_pattern(input);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1000) << input;
  }
  for (const char* input :
       {"img0000-1000", "a00-k00", "aaa-bmm", "aaaaaaaaaaaaaaaaaaaa-zzzzzzzzzzzzzzzzzzzz"}) {
    EXPECT_EQ(expand_pattern(input), expand_error_too_many()) << input;
  }
  EXPECT_EQ(expand_error_too_many(),
            "ERROR!!\r\n　展開後のファイル数が制限値を越えてしまいます\r\n"
            "　1000個以内になるようにしてください\r\n");
}

TEST(ExpandPattern, ErrorTextsAndExtraNames) {
  EXPECT_EQ(kExpandErrorInput, "ERROR!!\r\n　入力が正しくありません\r\n");
  EXPECT_EQ(kExpandErrorDigits, "ERROR!!\r\n　桁数が合いません\r\n");
  EXPECT_EQ(kExpandErrorForm, "ERROR!!\r\n　入力が正しくないか対応していない形式です\r\n");
  EXPECT_EQ(expand_pattern("dir/-5.jpg"), kExpandErrorInput);
  EXPECT_EQ(expand_pattern("img1-100"), kExpandErrorDigits);
  EXPECT_EQ(expand_pattern("a1-b.jpg"), kExpandErrorForm);
  EXPECT_EQ(expand_pattern("12-b34"), kExpandErrorForm);
  // Names after '+' come last, last one first, also after an error.
  EXPECT_EQ(expand_pattern("d/a1-3.jpg+x.jpg+y.jpg"),
            series("d/a", 1, 3, 1, ".jpg") + "d/y.jpg\r\nd/x.jpg\r\n");
  EXPECT_EQ(expand_pattern("d/img1-100+x.jpg"), std::string(kExpandErrorDigits) + "d/x.jpg\r\n");
}

}  // namespace torvane
