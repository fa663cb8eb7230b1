// Cookies against the real engine and a scripted server: the request line
// made from an answer's Set-Cookie and kept with a resumed item, the restart
// each "Cookie" value asks for, and a restart whose file may not be written.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/queue/cookies.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

constexpr std::size_t npos = std::string::npos;

// The request's cookie line up to and including its CRLF; "" without one.
std::string cookie_of(const HttpRequest& r) {
  const std::size_t at = r.raw.find("\r\nCookie: ");
  return at == npos ? "" : r.raw.substr(at + 2, r.raw.find("\r\n", at + 2) - at);
}

using CookieTest = ManagerTest;

TEST_F(CookieTest, EachValueRestartsTheFirstRequestOnceWithTheCookie) {
  // The requests of one download: the first, then the rest sorted. One to
  // the file is its method, "0" for a range from 0 and "c" for the cookie
  // line; any other is its target.
  const std::pair<const char*, const char*> cases[] = {
      {"Cookie=0\n", "HEAD | GET0c GETc"},
      // The probe again, now with a file to write, and with the cookie too.
      {"Cookie=1\n", "HEAD | GET0c GETc HEADc"},
      {"Cookie=1\nSpeedMode=1\n", "GET0 | GET0c GETc"},  // the probe is a GET
      {"Cookie=2\n", "/a/b/ | GET0c GETc HEADc"},
      {"Cookie=3\n", "/ | GET0c GETc HEADc"},
      // A link page is fetched over the one division the slot was prepared
      // for; the restart keeps to it.
      {"Cookie=1\nurljump=1\nskip=1\n", "HEAD | GET0c HEADc"},
  };
  // The folder's answer is empty: the engine falls back to one division,
  // which the restart must undo.
  const auto body = content(60000, 5);
  serve("/a/b/f.bin", body, npos, "Set-Cookie: s=1; path=/\r\n");
  serve("*", nullptr, npos, "Set-Cookie: s=1; path=/\r\n");
  for (const auto& [keys, expected] : cases) {
    SCOPED_TRACE(keys);
    profile(keys);
    const std::size_t before = server_.request_count();
    auto manager = start(clock_, 2);
    manager->register_item("2", out(), server_.url("/a/b/f.bin"));
    ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
    EXPECT_EQ(saved("f.bin"), *body);
    std::filesystem::remove(out() + "f.bin");
    const auto all = server_.requests();
    std::vector<std::string> trace;
    for (auto q = all.begin() + static_cast<std::ptrdiff_t>(before); q != all.end(); ++q) {
      const std::string cookie = cookie_of(*q) == "Cookie: s=1; \r\n" ? "c" : cookie_of(*q);
      const std::string range = q->range_start() == 0 ? "0" : "";
      trace.push_back(q->target == "/a/b/f.bin" ? q->method + range + cookie : q->target);
    }
    ASSERT_FALSE(trace.empty());
    std::sort(trace.begin() + 1, trace.end());
    std::string text = trace[0] + " |";
    for (auto t = trace.begin() + 1; t != trace.end(); ++t) text += " " + *t;
    EXPECT_EQ(text, expected);
  }
}

TEST_F(CookieTest, TheLineIsTheFirstSetCookieValueCleanedAndKeptWithAResumedItem) {
  const std::string kept = "v=" + std::string(8000, 'x');
  const std::pair<std::string, std::string> cases[] = {
      // answer lines, cookie line ("": none)
      {"Set-Cookie: ID=7; path=/; domain=.host; expires=Mon, 01-Jan-2001 00:00:00 GMT\r\n",
       "Cookie: ID=7;   \r\n"},
      {"SET-COOKIE: a=2\r\n", "Cookie: a=2\r\n"},
      {"set-cookie: a=3\r\n", ""},
      {"Set-Cookie: first=1\r\nSet-Cookie: second=2\r\n", "Cookie: first=1\r\n"},
      {"Set-Cookie: a=6\nX-Injected: 1\r\n", "Cookie: a=6\r\n"},
      {"Set-Cookie: " + kept + "\r\n", "Cookie: " + kept + "\r\n"},
      {"Set-Cookie: v=" + std::string(kMaxCookieValue, 'y') + "\r\n", ""},
  };
  const auto path = [](std::size_t i) { return "/c" + std::to_string(i); };
  profile("Cookie=0\n");
  auto manager = start(clock_, static_cast<int>(std::size(cases)));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    serve(path(i), content(3000 + i, i), i == 0 ? 1000 : npos, cases[i].first);  // /c0 is held
    manager->register_item("1", out(), server_.url(path(i)));
  }
  ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kDownloading}; }));
  // /c0 is stopped and resumed after a restart from a server that sets no
  // cookie any more: what goes out is the saved one.
  ASSERT_TRUE(stop_first(*manager));
  serve(path(0), content(3000, 0));
  restart(manager, clock_, 1);
  manager->scheduler_pass(-1, true);
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].first.substr(0, 60));
    EXPECT_EQ(saved(path(i).substr(1)), *content(3000 + i, i));
    for (const HttpRequest& q : server_.requests()) {
      if (q.target != path(i) || q.method != "GET") continue;
      EXPECT_EQ(cookie_of(q), cases[i].second);
    }
  }
}

TEST_F(CookieTest, ARestartWhoseFileMayNotBeWrittenFailsTheItem) {
  set_ini("[SETTING]\nExistFile=1\n");  // an existing file fails the item
  profile("Cookie=1\n");
  std::filesystem::create_directories(out());
  ASSERT_TRUE(write_file(out() + "x.bin", "old"));
  serve("/x.bin", content(5000), npos, "Set-Cookie: a=1\r\n");
  auto manager = start(clock_, 1);
  manager->register_item("1", out(), server_.url("/x.bin"));
  ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kFailed}; }));
  EXPECT_EQ(saved("x.bin"), "old");
  for (const HttpRequest& q : server_.requests()) EXPECT_NE(q.method, "GET");
}

}  // namespace
}  // namespace torvane::test
