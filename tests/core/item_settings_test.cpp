// Item settings: a reserved slot filled from an item and its profiles, the
// resume from a saved record, and the response-header handler.
#include "gui/items/item_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tests/support/test_files.h"

namespace torvane {
namespace {

using test::write_file;

constexpr std::uint32_t kAutoResume = TVN_OPT_AUTO_RESUME;
constexpr std::uint32_t kTick = 4242;

class ItemSettings : public ::testing::Test {
 protected:
  ItemSettings() {
    api_.copy_itemdata = &::copy_itemdata;
    api_.free_itemdata = &::free_itemdata;
    api_.GetMem = &::GetMem;
    api_.FreeMem = &::FreeMem;
    clock_.set_tick(kTick);
    record_.state = TVN_STATE_RESERVED;
  }

  // Host "h" has host.ini; every other host only the default profile.
  void profiles(const std::string& host, const std::string& def) {
    write_file(tmp_ / "Servers.ini", "[ServerData]\nh=host.ini\ndefault=def.ini\n");
    write_file(tmp_ / "host.ini", "[TVNBASICDATA]\n" + host);
    write_file(tmp_ / "def.ini", "[TVNBASICDATA]\n" + def);
  }
  int start(const std::string& url, const std::string& divisions = "4") {
    set_field(item_.url, url);
    set_field(item_.division_text, divisions);
    set_field(item_.save_folder, "/tmp/dl/");
    return apply_item_settings(&record_, item_, strings_, env_);
  }
  int header(std::int32_t state, std::uint32_t run_flags, std::uint32_t size, int prepared) {
    record_.state = state;
    record_.run_flags = run_flags;
    record_.disk.file_size = size;
    return on_header_received(&record_, &item_, prepared, strings_, env_);
  }

  test::TempDir tmp_;
  ProgramFolder folder_{tmp_.path()};
  IniAccess ini_{tmp_ / "Torvane.ini"};
  EngineApi api_;
  ManualClock clock_;
  ItemSettingsEnv env_{folder_, ini_, api_, clock_};
  SlotStrings strings_{&api_};
  ItemData record_{};
  ListItem item_;
};

TEST_F(ItemSettings, NoIndexAndNoDefaultProfileRunOnDefaults) {
  record_.options = TVN_OPT_SPEED_MODE;  // what the slot holds stays
  ASSERT_EQ(start("http://h/f.zip", "3"), 0);
  EXPECT_EQ(record_.data_type, TVN_DATA_HTTP);
  EXPECT_EQ(record_.auto_referer, 1);
  EXPECT_EQ(record_.options, kAutoResume | TVN_OPT_SPEED_MODE);
  EXPECT_EQ(record_.retry, 5);
  EXPECT_EQ(record_.div_count, 3);
  EXPECT_EQ(record_.buffer_size, 120000);
  EXPECT_EQ(record_.url, item_.url);
  EXPECT_EQ(record_.referer, nullptr);
  EXPECT_EQ(record_.proxy, nullptr);
  EXPECT_EQ(item_.division_count, 3);
  EXPECT_EQ(item_.start_tick, kTick);
}

TEST_F(ItemSettings, ProfileKeysResolveHostFirstThenDefault) {
  constexpr std::uint32_t kNone = 0, kServer = TVN_OPT_IGNORE_SERVER_ERROR;
  const struct {
    const char* name;
    std::string host, def;
    std::uint32_t options;
    int div_count, buffer_size, auto_referer;
  } cases[] = {
      {"div 0", "Div=0", "", kAutoResume, 0, 0, 1},
      {"negative div", "Div=-5", "", kAutoResume, 1, 40000, 1},
      {"div from default", "", "Div=2\nBufferSize=1000", kAutoResume, 2, 2000, 1},
      {"buffer saturates", "BufferSize=2000000000", "", kAutoResume, 4, INT32_MAX, 1},
      {"autoresume 0", "AutoResume=0", "AutoResume=1", kNone, 4, 160000, 1},
      {"autoresume -1 is absent", "AutoResume=-1", "AutoResume=-1", kAutoResume, 4, 160000, 1},
      {"autoresume -3", "", "AutoResume=-3", kNone, 4, 160000, 1},
      {"host 0 hides default 1", "IgnoreServerError=0", "IgnoreServerError=1", kAutoResume, 4,
       160000, 1},
      {"default fills in", "SpeedMode=2", "IgnoreServerError=1\nAutoReferrer=0",
       kAutoResume | kServer | TVN_OPT_SPEED_MODE, 4, 160000, 0},
      {"referrer keeps the slot's auto", "Referrer=http://r/", "AutoReferrer=0", kAutoResume, 4,
       160000, 77},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    profiles(c.host, c.def);
    record_ = ItemData{};
    record_.auto_referer = 77;
    ASSERT_EQ(start("http://h/f.zip"), 0);
    EXPECT_EQ(record_.options, c.options);
    EXPECT_EQ(record_.div_count, c.div_count);
    EXPECT_EQ(item_.division_count, c.div_count);
    EXPECT_EQ(item_.division_from_profile, (c.host + c.def).find("Div=") != std::string::npos);
    EXPECT_EQ(record_.buffer_size, c.buffer_size);
    EXPECT_EQ(record_.auto_referer, c.auto_referer);
  }
}

TEST_F(ItemSettings, ProxyAndReferrerAreSlotStrings) {
  profiles("Proxy=127.0.0.1:8080\nReferrer=", "");
  ASSERT_EQ(start("http://h/f.zip"), 0);
  EXPECT_EQ(record_.options, kAutoResume | TVN_OPT_USE_PROXY);
  EXPECT_STREQ(record_.proxy, "127.0.0.1:8080");
  EXPECT_STREQ(record_.referer, "");  // an empty value is present
  EXPECT_TRUE(strings_.owns(record_.proxy) && strings_.owns(record_.referer));
}

TEST_F(ItemSettings, UrlRewritesAndFirstRequest) {
  const std::string long_path = "http://h/" + std::string(2030, 'p');
  struct Case {
    const char* name;
    std::string url, host, def, item_url, request_url;
  };
  const Case cases[] = {
      {"shorter host", "http://h/a/b.zip", "Host=M", "", "http://M/a/b.zip", ""},
      {"longer host", "http://h/a/b.zip", "Host=mirror.example:81", "",
       "http://mirror.example:81/a/b.zip", ""},
      {"URL before Host", "http://h/a", "URL=http://x/y/z.bin\nHost=M", "", "http://M/y/z.bin", ""},
      {"no third slash", "http://other", "", "Host=M", "http://other", ""},
      {"splice too long", long_path, "Host=" + std::string(30, 'm'), "", long_path, ""},
      {"cookie 1", "http://h/a/b/c.zip", "Cookie=1", "", "http://h/a/b/c.zip", ""},
      {"cookie 2", "http://h/a/b/c.zip", "Cookie=2", "", "http://h/a/b/c.zip", "http://h/a/b/"},
      {"cookie 3", "http://h/a/b/c.zip", "Cookie=3", "", "http://h/a/b/c.zip", "http://h/"},
      {"cookie past slashes", "http://h/a/b/c.zip", "Cookie=9", "", "http://h/a/b/c.zip",
       "http://h/a/b/c.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    profiles(c.host, c.def);
    record_ = ItemData{};
    ASSERT_EQ(start(c.url), 0);
    EXPECT_STREQ(item_.url, c.item_url.c_str());
    const bool cookie = c.host.starts_with("Cookie");
    EXPECT_EQ((record_.options & TVN_OPT_MEMORY_FETCH) != 0, cookie);
    if (c.request_url.empty()) {
      EXPECT_EQ(record_.url, item_.url);
      continue;
    }
    ASSERT_TRUE(strings_.owns(record_.url));
    EXPECT_STREQ(record_.url, c.request_url.c_str());
    // A redirect may be written over it in place.
    std::memset(record_.url, 'r', TVN_URL_CAPACITY - 1);
  }
}

TEST_F(ItemSettings, LinkJumpDecidedByUrljumpsFile) {
  struct Case {
    const char* name;
    std::string url, host, def;
    int mark, skip = 0;
  };
  const Case cases[] = {
      {"host 0 beats default 1", "http://h/p", "urljump=0\nskip=1", "urljump=1\nskip=2", kNoJump},
      {"host absent, default decides", "http://h/p", "skip=1", "urljump=1\nskip=2", kJumpArmed, 2},
      {"skip only from the jump file", "http://h/p", "urljump=1", "skip=3", kNoJump},
      {"no host profile", "http://other/p", "", "urljump=1\nskip=0", kJumpArmed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    profiles(c.host + "\nDiv=4", c.def);
    record_ = ItemData{};
    item_.url_jump = kJumpTaken;
    ASSERT_EQ(start(c.url), 0);
    EXPECT_EQ(item_.url_jump, c.mark);
    EXPECT_EQ(item_.division_count, 4);
    const bool jump = c.mark == kJumpArmed;
    EXPECT_EQ(record_.div_count, jump ? 1 : 4);
    EXPECT_EQ((record_.options & TVN_OPT_MEMORY_FETCH) != 0, jump);
    if (jump) {
      EXPECT_EQ(item_.skip_count, c.skip);
    }
  }
}

TEST_F(ItemSettings, ResumeAdoptsTheCopiesAndReadsNoProfile) {
  profiles("Div=9\nProxy=p:1", "Div=9");
  char url[] = "http://h/f.zip", referer[] = "http://r/", agent[] = "ua", save[] = "/tmp/dl/",
       proxy[] = "q:2", file[] = "/tmp/dl/f.zip", stale[] = "Cookie: old\r\n";
  std::int32_t status[2] = {2, 0};
  ItemData source{};
  source.url = url, source.referer = referer, source.user_agent = agent;
  source.save_path = save, source.proxy = proxy, source.disk.file_name = file;
  source.extra_header = stale;
  source.div_count = 2, source.div_status = status;
  for (const std::string cookie_line : {"Cookie: a=b\r\n", ""}) {
    SCOPED_TRACE(cookie_line);
    item_.saved = SavedRecord(api_.copy_itemdata(nullptr, &source), SavedRecordDeleter{&api_});
    ASSERT_NE(item_.saved, nullptr);
    item_.slot_link = kResumePending;
    item_.cookie_line = cookie_line;
    record_ = ItemData{};
    record_.state = TVN_STATE_RESERVED;
    ASSERT_EQ(start("http://h/f.zip"), 1);
    EXPECT_EQ(item_.saved, nullptr);
    EXPECT_EQ(item_.start_tick, kTick);
    EXPECT_EQ(record_.state, TVN_STATE_EMPTY);
    EXPECT_EQ(record_.div_count, 2);
    EXPECT_EQ(record_.div_status[0], 2);
    EXPECT_STREQ(record_.proxy, "q:2");
    for (char* text :
         {record_.url, record_.referer, record_.user_agent, record_.save_path, record_.proxy}) {
      EXPECT_TRUE(strings_.owns(text));
    }
    EXPECT_FALSE(strings_.owns(record_.disk.file_name));
    // The engine reads the cookie from the slot's own copy.
    if (cookie_line.empty()) {
      EXPECT_EQ(record_.extra_header, nullptr);
    } else {
      EXPECT_TRUE(strings_.owns(record_.extra_header));
      EXPECT_STREQ(record_.extra_header, cookie_line.c_str());
      strings_.release(record_.extra_header);
    }
    strings_.forget_all();  // free_itemdata frees the copied strings once
    api_.free_itemdata(&record_);
  }
}

TEST(FileSizeValue, SignsAndSaturation) {
  const struct {
    const char* value;
    std::uint32_t expected;
  } cases[] = {{"+100", 1100},
               {"-100", 900},
               {"5000", 5000},
               {"-2000", 0},
               {"+abc", 1000},
               {"abc", 1000},
               {"", 1000},
               {"12k", 12},
               {"+4294967295", UINT32_MAX},
               {"99999999999", UINT32_MAX}};
  for (const auto& c : cases)
    EXPECT_EQ(apply_file_size_value(1000, c.value), c.expected) << c.value;
}

TEST_F(ItemSettings, HeaderActsOnlyWhileProbing) {
  profiles("FileSize=+100", "");
  set_field(item_.url, "http://h/f.zip");
  const struct {
    std::int32_t state;
    std::uint32_t flags, size, expected;
  } cases[] = {{TVN_STATE_PROBING, 0, 1000, 1100},
               {TVN_STATE_DOWNLOADING, TVN_RUN_PROBE_SENT, 1000, 1100},
               {TVN_STATE_DOWNLOADING, TVN_RUN_PROBE_DONE, 1000, 1000},
               {TVN_STATE_STARTED, TVN_RUN_PROBE_SENT, 1000, 1000},
               {TVN_STATE_PROBING, 0, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(header(c.state, c.flags, c.size, 4), 0);
    EXPECT_EQ(record_.disk.file_size, c.expected) << c.state << " " << c.flags;
  }
  EXPECT_EQ(on_header_received(&record_, nullptr, 4, strings_, env_), 0);
}

TEST_F(ItemSettings, SizeTableNeverRaisesThePreparedCount) {
  write_file(tmp_ / "Torvane.ini", "[Divide]\n0-999=-7\n1000-1999=8\n2000-2999=2\n3000-3999=-1\n");
  const struct {
    const char* name;
    std::uint32_t size;
    int prepared, from_profile, expected;
  } cases[] = {{"lowered", 2500, 4, 0, 2},         {"capped", 1500, 4, 0, 4},
               {"after link page", 1500, 1, 0, 1}, {"count from profile", 2500, 4, 1, 4},
               {"negative row", 500, 4, 0, 1},     {"row keeps item's", 3500, 4, 0, 4},
               {"no row", 9000, 4, 0, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    record_.div_count = c.prepared;
    item_.division_count = 4;
    item_.division_from_profile = c.from_profile;
    EXPECT_EQ(header(TVN_STATE_PROBING, 0, c.size, c.prepared), 0);
    EXPECT_EQ(record_.div_count, c.expected);
    EXPECT_EQ(item_.division_count, c.expected);
  }
}

}  // namespace
}  // namespace torvane
