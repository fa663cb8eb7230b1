// Cookies against the real engine and a scripted server: the request line
// made from an answer's Set-Cookie, the restart each "Cookie" value asks
// for, a resumed item's saved cookie, and a restart whose file may not be
// written.
#include <gtest/gtest.h>

#include <filesystem>

#include "gui/items/cookies.h"
#include "tests/core/manager_fixture.h"

namespace torvane::test {
namespace {

constexpr std::size_t npos = std::string::npos;

struct Page {
  std::shared_ptr<const std::string> body;
  std::string lines;  // header lines added to every answer, each ending in CRLF
};

// The request's cookie line up to and including its CRLF; "" without one.
std::string cookie_of(const std::string& raw) {
  const std::size_t at = raw.find("\r\nCookie: ");
  if (at == npos) return "";
  return raw.substr(at + 2, raw.find("\r\n", at + 2) - at);
}

class CookieTest : public ManagerTest {
 protected:
  void profile(const std::string& keys) {
    ASSERT_TRUE(write_file(home() + "/Servers/default.ini", "[TVNBASICDATA]\n" + keys));
  }

  // Each path of `site` is a file with ranges; any other path (a folder,
  // the root) is an empty page whose answer carries `other_lines`. GETs of
  // a file pause after `gate_at` body bytes while `gate` is shut.
  void serve_site(std::map<std::string, Page> site, const std::string& other_lines,
                  std::shared_ptr<Gate> gate = nullptr, std::size_t gate_at = 0) {
    server_.set_handler([site = std::move(site), other_lines, gate,
                         gate_at](const HttpRequest& r) {
      auto it = site.find(r.target);
      HttpReply reply = it == site.end() ? status_reply(200, "OK") : resource_reply(r, it->second.body);
      reply.head.insert(reply.head.find("\r\n") + 2, it == site.end() ? other_lines : it->second.lines);
      if (it != site.end() && gate != nullptr && r.method == "GET" && !gate->is_open()) {
        reply.gate = gate;
        reply.gate_at = reply.head.size() + gate_at;
      }
      return reply;
    });
  }

  std::vector<HttpRequest> requests_since(std::size_t before) const {
    const auto all = server_.requests();
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }
};

TEST_F(CookieTest, EachValueRestartsTheFirstRequestOnceWithTheCookie) {
  const auto body = content(60000, 5);
  const std::string set = "Set-Cookie: s=1; path=/\r\n", line = "Cookie: s=1; \r\n";
  const struct {
    const char* keys;
    const char* first_target;
    int heads_to_file, gets_from_zero, gets;
  } cases[] = {
      {"Cookie=0\n", "/a/b/f.bin", 1, 1, 2},
      {"Cookie=1\n", "/a/b/f.bin", 2, 1, 2},  // the probe again, now with a file to write
      {"Cookie=1\nSpeedMode=1\n", "/a/b/f.bin", 0, 2, 3},  // the probe is a GET
      {"Cookie=2\n", "/a/b/", 1, 1, 2},
      {"Cookie=3\n", "/", 1, 1, 2},
      // A link page is fetched over the one division the slot was prepared
      // for; the restart keeps to it.
      {"Cookie=1\nurljump=1\nskip=1\n", "/a/b/f.bin", 2, 1, 1},
  };
  // The folder's answer is empty: the engine falls back to one division,
  // which the restart must undo.
  serve_site({{"/a/b/f.bin", {body, set}}}, set);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    profile(c.keys);
    const std::size_t before = server_.request_count();
    auto manager = start(clock_, 2);
    manager->register_item("2", out(), server_.url("/a/b/f.bin"));
    ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
    EXPECT_EQ(manager->end(5000), 0);
    EXPECT_TRUE(saved("f.bin") == *body);
    std::filesystem::remove(out() + "f.bin");

    const auto r = requests_since(before);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r[0].target, c.first_target);
    int heads = 0, gets = 0, from_zero = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
      if (r[i].target != "/a/b/f.bin") {
        EXPECT_EQ(i, 0u) << r[i].raw;  // only the first request goes elsewhere
        continue;
      }
      if (r[i].method == "HEAD") {
        ++heads;
        EXPECT_EQ(cookie_of(r[i].raw), "");
        continue;
      }
      from_zero += r[i].range_start() == 0 ? 1 : 0;
      // Only a first request that is a GET goes out before any answer.
      EXPECT_EQ(cookie_of(r[i].raw), i == 0 ? "" : line) << r[i].raw;
      ++gets;
    }
    EXPECT_EQ(heads, c.heads_to_file);
    EXPECT_EQ(from_zero, c.gets_from_zero);
    EXPECT_EQ(gets, c.gets);
  }
}

TEST_F(CookieTest, TheLineIsTheFirstSetCookieValueCleaned) {
  const std::string kept = "v=" + std::string(8000, 'x');
  const struct {
    const char* name;
    std::string lines, expected;  // expected "": no cookie line at all
  } cases[] = {
      {"worked example",
       "Set-Cookie: ID=7; path=/; domain=.host; expires=Mon, 01-Jan-2001 00:00:00 GMT\r\n",
       "Cookie: ID=7;   \r\n"},
      {"plain value", "Set-Cookie: a=1\r\n", "Cookie: a=1\r\n"},
      {"name in capitals", "SET-COOKIE: a=2\r\n", "Cookie: a=2\r\n"},
      {"name in lower case", "set-cookie: a=3\r\n", ""},
      {"only the first line", "Set-Cookie: first=1\r\nSet-Cookie: second=2\r\n",
       "Cookie: first=1\r\n"},
      {"path ends the line", "Set-Cookie: a=4; path=/x\r\n", "Cookie: a=4; \r\n"},
      {"domain ends the line", "Set-Cookie: a=5; path=/; domain=.h\r\n", "Cookie: a=5;  \r\n"},
      {"bare LF", "Set-Cookie: a=6\nX-Injected: 1\r\n", "Cookie: a=6\r\n"},
      {"bare CR", "Set-Cookie: a=7\rX-Injected: 1\r\n", "Cookie: a=7\r\n"},
      {"long value whole", "Set-Cookie: " + kept + "\r\n", "Cookie: " + kept + "\r\n"},
      {"too long", "Set-Cookie: v=" + std::string(kMaxCookieValue, 'y') + "\r\n", ""},
  };
  std::map<std::string, Page> site;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    site["/c" + std::to_string(i)] = {content(3000 + i, static_cast<std::uint32_t>(i)), cases[i].lines};
  }
  serve_site(site, "");
  profile("Cookie=0\n");
  auto manager = start(clock_, static_cast<int>(std::size(cases)));
  for (const auto& [path, page] : site) manager->register_item("1", out(), server_.url(path));
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));

  const auto r = server_.requests();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string path = "/c" + std::to_string(i);
    EXPECT_TRUE(saved(path.substr(1)) == *site[path].body);
    int gets = 0;
    for (const HttpRequest& q : r) {
      if (q.target != path || q.method != "GET") continue;
      ++gets;
      EXPECT_EQ(cookie_of(q.raw), cases[i].expected);
      EXPECT_EQ(q.raw.find("Injected"), npos) << q.raw;
    }
    EXPECT_EQ(gets, 1);
  }
}

TEST_F(CookieTest, AResumedItemSendsTheCookieSavedWithIt) {
  profile("Cookie=0\n");
  const auto body = content(300000, 8);
  auto gate = std::make_shared<Gate>();
  serve_site({{"/r.bin", {body, "Set-Cookie: keep=9\r\n"}}}, "", gate, 20000);
  {
    auto manager = start(clock_, 2);
    manager->register_item("2", out(), server_.url("/r.bin"));
    ASSERT_TRUE(server_.wait_for_requests(3, kDeadline));  // HEAD and two GETs
    ASSERT_TRUE(wait_until([&] { return states(*manager)[0] == kDownloading; }));
    manager->stop_item(0);
    ASSERT_TRUE(wait_until([&] { return states(*manager)[0] == kResting; }));
    EXPECT_EQ(manager->end(10000), 0);
  }
  // The server sets no cookie any more: what goes out is the saved one.
  serve_site({{"/r.bin", {body, ""}}}, "");
  const std::size_t before = server_.request_count();
  auto manager = start(clock_, 2);
  ASSERT_EQ(manager->load_list(), 0);
  EXPECT_EQ(manager->with_items([](const ItemList& l) { return l.at(0)->cookie_line; }),
            "Cookie: keep=9\r\n");
  manager->scheduler_pass(-1, true);
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_TRUE(saved("r.bin") == *body);
  const auto r = requests_since(before);
  EXPECT_FALSE(r.empty());
  for (const HttpRequest& q : r) EXPECT_EQ(cookie_of(q.raw), "Cookie: keep=9\r\n") << q.raw;
  gate->open();
}

TEST_F(CookieTest, ARestartWhoseFileMayNotBeWrittenFailsTheItem) {
  set_ini("[SETTING]\nExistFile=1\n");  // an existing file fails the item
  profile("Cookie=1\n");
  std::filesystem::create_directories(out());
  ASSERT_TRUE(write_file(out() + "x.bin", "old"));
  serve_site({{"/x.bin", {content(5000), "Set-Cookie: a=1\r\n"}}}, "");
  auto manager = start(clock_, 1);
  manager->register_item("1", out(), server_.url("/x.bin"));
  ASSERT_TRUE(wait_until([&] { return states(*manager) == std::vector<int>{kFailed}; }));
  EXPECT_EQ(saved("x.bin"), "old");
  for (const HttpRequest& q : server_.requests()) EXPECT_NE(q.method, "GET");
}

}  // namespace
}  // namespace torvane::test
