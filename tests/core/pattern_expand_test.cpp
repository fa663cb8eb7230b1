// URL pattern expansion: example rows, limits and every error text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/extras/pattern_expand.h"

namespace torvane {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return lines;
}

std::vector<std::string> series(const std::string& prefix, int from, int to, int width,
                                const std::string& suffix) {
  std::vector<std::string> out;
  for (int n = from; n <= to; ++n) {
    std::string digits = std::to_string(n);
    digits.insert(0, static_cast<std::size_t>(width) - std::min<std::size_t>(digits.size(), width), '0');
    out.push_back(prefix + digits + suffix);
  }
  return out;
}

TEST(ExpandPattern, NumberFormsGiveTheSameSeries) {
  const std::vector<std::string> expected = series("dir/img", 1, 120, 3, ".jpg");
  for (const char* input : {"dir/img001-120.jpg", "dir/img001.jpg-img120.jpg",
                            "dir/img001.jpg-120", "dir/img[001-120].jpg", "dir/img120-001.jpg"}) {
    EXPECT_EQ(lines_of(expand_pattern(input)), expected) << input;
  }
  EXPECT_EQ(lines_of(expand_pattern("img110-9")), series("img11", 0, 9, 1, ""));
  EXPECT_EQ(lines_of(expand_pattern("a1-a3")), (std::vector<std::string>{"a1", "a2", "a3"}));
}

TEST(ExpandPattern, LetterForms) {
  using L = std::vector<std::string>;
  EXPECT_EQ(lines_of(expand_pattern("dir/a-e.jpg")),
            (L{"dir/a.jpg", "dir/b.jpg", "dir/c.jpg", "dir/d.jpg", "dir/e.jpg"}));
  EXPECT_EQ(lines_of(expand_pattern("dir/a98-b02.jpg")),
            (L{"dir/a98.jpg", "dir/a99.jpg", "dir/b00.jpg", "dir/b01.jpg", "dir/b02.jpg"}));
  const L abc{"a.jpg", "b.jpg", "c.jpg"};
  for (const char* input : {"a.jpg-c", "a.jpg-c.jpg", "a-c.jpg", "c-a.jpg"}) {
    EXPECT_EQ(lines_of(expand_pattern(input)), abc) << input;
  }
  const L aa_bz = lines_of(expand_pattern("aa-bz"));
  ASSERT_EQ(aa_bz.size(), 52u);
  EXPECT_EQ(aa_bz[25], "az");
  EXPECT_EQ(aa_bz[26], "ba");
  EXPECT_EQ(aa_bz.back(), "bz");
  const L xa_ya = lines_of(expand_pattern("xa-ya"));
  ASSERT_EQ(xa_ya.size(), 27u);
  EXPECT_EQ(xa_ya.front(), "xa");
  EXPECT_EQ(xa_ya.back(), "ya");
}

TEST(ExpandPattern, UnchangedInputs) {
  for (const char* input : {"dir/pic.jpg", "http://my-host/pic.jpg", "dir/pic-", "", "a-a"}) {
    EXPECT_EQ(expand_pattern(input), std::string(input) + "\r\n") << input;
  }
}

TEST(ExpandPattern, LimitsOfASeries) {
  EXPECT_EQ(lines_of(expand_pattern("img000-999")).size(), 1000u);
  EXPECT_EQ(expand_pattern("img0000-1000"), expand_error_too_many());
  EXPECT_EQ(lines_of(expand_pattern("a00-j99")).size(), 1000u);
  EXPECT_EQ(expand_pattern("a00-k00"), expand_error_too_many());
  EXPECT_EQ(lines_of(expand_pattern("aa-bl")).size(), 38u);
  EXPECT_EQ(lines_of(expand_pattern("aaa-bml")).size(), 1000u);
  EXPECT_EQ(expand_pattern("aaa-bmm"), expand_error_too_many());
  EXPECT_EQ(expand_pattern("aaaaaaaaaaaaaaaaaaaa-zzzzzzzzzzzzzzzzzzzz"), expand_error_too_many());
  EXPECT_EQ(expand_pattern("a0000000000000000000000001-0000000000000000000000003"),
            kExpandErrorDigits);
  EXPECT_EQ(expand_error_too_many(),
            "ERROR!!\r\n　展開後のファイル数が制限値を越えてしまいます\r\n"
            "　1000個以内になるようにしてください\r\n");
}

TEST(ExpandPattern, ErrorTexts) {
  EXPECT_EQ(kExpandErrorInput, "ERROR!!\r\n　入力が正しくありません\r\n");
  EXPECT_EQ(kExpandErrorDigits, "ERROR!!\r\n　桁数が合いません\r\n");
  EXPECT_EQ(kExpandErrorForm, "ERROR!!\r\n　入力が正しくないか対応していない形式です\r\n");
  struct Case {
    const char* input;
    std::string_view error;
  } cases[] = {
      {"dir/-5.jpg", kExpandErrorInput}, {"img1-100", kExpandErrorDigits},
      {"a1-b.jpg", kExpandErrorForm},    {"a.b-1", kExpandErrorForm},
      {"dir/1-23x", kExpandErrorDigits},  {"12-b34", kExpandErrorForm},
  };
  for (const Case& c : cases) EXPECT_EQ(expand_pattern(c.input), c.error) << c.input;
}

TEST(ExpandPattern, ExtraNamesComeLastFirstAlsoAfterAnError) {
  EXPECT_EQ(lines_of(expand_pattern("d/a1-3.jpg+x.jpg+y.jpg")),
            (std::vector<std::string>{"d/a1.jpg", "d/a2.jpg", "d/a3.jpg", "d/y.jpg", "d/x.jpg"}));
  EXPECT_EQ(expand_pattern("d/img1-100+x.jpg"),
            std::string(kExpandErrorDigits) + "d/x.jpg\r\n");
}

}  // namespace
}  // namespace torvane
