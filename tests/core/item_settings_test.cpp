// Item settings: a reserved slot filled from an item and its profiles, the
// resume from a saved record, and the response-header handler.
#include "core/queue/item_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/queue/history_writer.h"
#include "core/queue/item_list_file.h"
#include "core/text/engine_status_text.h"
#include "core/text/progress_text.h"
#include "tests/support/test_files.h"

namespace torvane {
namespace {

constexpr std::uint32_t kAutoResume = TVN_OPT_AUTO_RESUME;
constexpr std::uint64_t k4G = 1ull << 32, k5G = 5ull << 30;

class ItemSettings : public ::testing::Test {
 protected:
  // Host "h" has host.ini; every other host only the default profile.
  void profiles(const std::string& host, const std::string& def) {
    test::write_file(tmp_ / "Servers.ini", "[ServerData]\nh=host.ini\ndefault=def.ini\n");
    test::write_file(tmp_ / "host.ini", "[TVNBASICDATA]\n" + host);
    test::write_file(tmp_ / "def.ini", "[TVNBASICDATA]\n" + def);
  }
  // Profiles (no files when both are empty), then a fresh reserved slot whose
  // auto_referer 77 shows whether the profiles set it.
  int start(const std::string& url, const std::string& host = "", const std::string& def = "",
            const char* divisions = "4") {
    if (!host.empty() || !def.empty()) profiles(host, def);
    record_ = ItemData{}, record_.state = TVN_STATE_RESERVED, record_.auto_referer = 77;
    set_field(item_.url, url);
    set_field(item_.division_text, divisions);
    return apply_item_settings(&record_, &wide_, item_, strings_, env_);
  }
  // Frees a resumed slot: free_itemdata frees the copied strings once.
  void free_record() {
    strings_.release(record_.extra_header);
    strings_.forget_all();
    api_.free_itemdata(&record_);
  }

  test::TempDir tmp_;
  ProgramFolder folder_{tmp_.path()};
  IniAccess ini_{tmp_ / "Torvane.ini"};
  EngineApi api_{.copy_itemdata = &::copy_itemdata,
                 .free_itemdata = &::free_itemdata,
                 .GetMem = &::GetMem,
                 .FreeMem = &::FreeMem};
  ManualClock clock_{LocalTime{}, 4242};
  ItemSettingsEnv env_{folder_, ini_, api_, clock_};
  SlotStrings strings_{&api_};
  ItemData record_{};
  WideSizes wide_{};  // the slot's
  ListItem item_;
};

TEST_F(ItemSettings, ProfileKeysHostFirst) {
  // host profile, default profile; options, div_count, buffer_size, auto_referer
  const std::tuple<std::string, std::string, std::uint32_t, int, int, int> cases[] = {
      {"AutoResume=0", "AutoResume=1", 0, 4, 160000, 1},
      {"AutoResume=-1", "AutoResume=-1", kAutoResume, 4, 160000, 1},  // -1 is absent
      {"AutoResume=-3", "", 0, 4, 160000, 1},
      {"SpeedMode=2", "AutoReferrer=0\nDiv=2\nBufferSize=10000", kAutoResume | TVN_OPT_SPEED_MODE,
       2, 20000, 0},  // the default profile fills in
      {"TLSVerify=0", "", kAutoResume | TVN_OPT_NO_TLS_VERIFY, 4, 160000, 1},
      // A referrer leaves the slot's auto_referer. Last: its strings are checked below.
      {"Proxy=p:1\nReferrer=", "AutoReferrer=0", kAutoResume | TVN_OPT_USE_PROXY, 4, 160000, 77},
  };
  for (const auto& [host, def, options, div_count, buffer_size, auto_referer] : cases) {
    SCOPED_TRACE(host + "|" + def);
    ASSERT_EQ(start("http://h/f.zip", host, def), 0);
    const bool from_profile = (host + def).find("Div=") != std::string::npos;
    EXPECT_EQ(std::tie(record_.options, record_.div_count, item_.division_count,
                       item_.division_from_profile, record_.buffer_size, record_.auto_referer),
              std::tuple(options, div_count, div_count, from_profile, buffer_size, auto_referer));
  }
  EXPECT_STREQ(record_.referer, "");  // an empty value is present
  EXPECT_TRUE(strings_.owns(record_.proxy) && strings_.owns(record_.referer));
}

// Values that cannot work are brought into range, each with one note that
// names the value used; absent (-1) and in-range values go without a word.
TEST_F(ItemSettings, AbsurdValuesAreBroughtIntoRangeWithANote) {
  std::vector<std::string> notes;
  env_.notes = &notes;
  const auto note = [](const std::string& value, const std::string& range, int used) {
    return value + " is out of range (" + range + "); " + std::to_string(used) + " is used";
  };
  const std::string buffers = "4096 to 67108864";
  const std::vector<std::string> two = {note("BufferSize=2000000000", buffers, 64 << 20),
                                        note("Retry=-9", "0 and up", 0)};
  struct Row {
    std::string profile;
    const char* divisions;  // the item's own division text
    int div_count, buffer_size, retry;
    std::vector<std::string> notes;
  } const rows[] = {
      {"Div=99999", "4", 64, 64 * 40000, 5, {note("Div=99999", "1 to 64", 64)}},
      {"", "999", 64, 64 * 40000, 5, {note("Div=999", "1 to 64", 64)}},
      {"Div=0", "4", 1, 40000, 5, {}},
      {"BufferSize=1", "4", 4, 4 * 4096, 5, {note("BufferSize=1", buffers, 4096)}},
      {"BufferSize=2000000000\nRetry=-9", "2", 2, 2 << 26, 0, two},  // both said, in order
      {"Div=64\nBufferSize=67108864\nRetry=0", "4", 64, INT32_MAX, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.profile + " | " + row.divisions);
    notes.clear();
    ASSERT_EQ(start("http://h/f.zip", row.profile, "AutoReferrer=1", row.divisions), 0);
    EXPECT_EQ(std::tie(record_.div_count, item_.division_count, record_.buffer_size, record_.retry),
              std::tie(row.div_count, row.div_count, row.buffer_size, row.retry));
    EXPECT_EQ(notes, row.notes);
  }
}

TEST_F(ItemSettings, UrlRewritesAndFirstRequest) {
  const std::string long_path = "http://h/" + std::string(2030, 'p'), abc = "http://h/a/b/c.zip";
  // URL, host profile, default profile, the item's URL after, the first request's ("": the item's)
  const std::tuple<std::string, std::string, std::string, std::string, std::string> cases[] = {
      {"https://h:443/a/b.zip", "Host=M", "", "https://M/a/b.zip", ""},
      {"http://h/a", "URL=http://x/y/z.bin\nHost=M", "", "http://M/y/z.bin", ""},
      {long_path, "Host=" + std::string(30, 'm'), "", long_path, ""},  // would not fit
      {abc, "Cookie=3", "", abc, "http://h/"},
      {abc, "Cookie=9", "", abc, abc},  // fewer slashes
  };
  for (const auto& [url, host, def, item_url, request_url] : cases) {
    SCOPED_TRACE(host + "|" + def);
    ASSERT_EQ(start(url, host, def), 0);
    const bool cookie = host.starts_with("Cookie");  // the first request goes to a slot string
    EXPECT_EQ(std::tuple(std::string(item_.url), (record_.options & TVN_OPT_MEMORY_FETCH) != 0,
                         strings_.owns(record_.url), std::string(record_.url)),
              std::tuple(item_url, cookie, cookie, request_url.empty() ? item_url : request_url));
    std::memset(record_.url, 'r', TVN_URL_CAPACITY - 1);  // room for a redirect written in place
  }
}

TEST_F(ItemSettings, LinkJumpDecidedByUrljumpsFile) {
  // host profile, default profile, the item's mark and skip count
  const std::tuple<std::string, std::string, int, int> cases[] = {
      {"urljump=0\nskip=1", "urljump=1\nskip=2", kNoJump, 0},
      {"urljump=1", "skip=3", kNoJump, 0},             // skip only from the jump's file
      {"skip=1", "urljump=1\nskip=2", kJumpArmed, 2},  // the default profile decides
  };
  for (const auto& [host, def, mark, skip] : cases) {
    SCOPED_TRACE(host + "|" + def);
    item_.url_jump = kJumpTaken;
    ASSERT_EQ(start("http://h/p", host + "\nDiv=4", def), 0);
    // The page comes into memory on one connection; the item keeps 4 for the file.
    const bool jump = mark == kJumpArmed;
    EXPECT_EQ(std::tuple(item_.url_jump, item_.skip_count, item_.division_count, record_.div_count,
                         (record_.options & TVN_OPT_MEMORY_FETCH) != 0),
              std::tuple(mark, skip, 4, jump ? 1 : 4, jump));
  }
}

TEST_F(ItemSettings, TheAnswersValidatorComesBackOnceAsIfRangeAfterAStopAndTheListFile) {
  const std::pair<std::string, std::optional<std::string>> answers[] = {
      {"HTTP/1.1 206 Partial\r\nEtag:  \"x1\" \r\nLast-Modified: Tue\r\n\r\n", "\"x1\""},
      {"HTTP/1.0 200 OK\nETag: W/\"w\"\nlast-modified: Tue, 1 Mar\n\nETag: \"body\"", "Tue, 1 Mar"},
      {"HTTP/1.0 302 Found\r\nETag: \"r\"\r\n\r\n", std::nullopt},  // not the file's bytes
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", std::nullopt},
  };
  for (const auto& [header, validator] : answers) EXPECT_EQ(answer_validator(header), validator);

  // A running slot with one division whose share holds the answer.
  std::string share = answers[0].first + "body";
  std::int32_t status[1] = {206}, fill[1] = {static_cast<std::int32_t>(share.size())};
  char* shares[1] = {share.data()};
  ItemData running{};
  running.div_count = 1, running.div_status = status, running.disk.buf_fill = fill;
  running.disk.buf_ptr = shares;
  SlotStrings learnt(&api_);
  remember_validator(&running, 0, learnt);
  ASSERT_STREQ(running.reserved_text, "\"x1\"");
  EXPECT_TRUE(learnt.owns(running.reserved_text));

  // Stopped, listed, read back, resumed, stopped and resumed again.
  ItemList list;
  ListItem& listed = *list.at(static_cast<std::int64_t>(list.append(ItemList::Growth::kByOne)));
  set_field(listed.url, "http://h/f.zip");
  listed.cookie_line = "Cookie: a=b\r\n";
  listed.saved = SavedRecord(api_.copy_itemdata(nullptr, &running), SavedRecordDeleter{&api_});
  ItemList read_back;
  ASSERT_EQ(decode_item_list(encode_item_list(list, false), read_back, api_), 0);
  item_ = std::move(*read_back.at(0));
  for (int resume = 0; resume < 2; ++resume) {
    item_.slot_link = kResumePending;
    ASSERT_EQ(start("http://h/f.zip"), 1);
    EXPECT_STREQ(record_.extra_header, "Cookie: a=b\r\nIf-Range: \"x1\"\r\n");
    item_.saved = SavedRecord(api_.copy_itemdata(nullptr, &record_), SavedRecordDeleter{&api_});
    free_record();
  }
}

TEST_F(ItemSettings, SpeedsPast2And4GiBAndAResumeOfTheRecord) {
  constexpr std::uint64_t k2G = 1ull << 31, k4G = 1ull << 32;
  // The mark the tick kept, the bytes now, the milliseconds between
  const std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, const char*> cases[] = {
      {k2G - 750000, k2G + 750000, 1000, " 1.5Mbyte/s"},
      {k4G - 1000, k4G + 1249000, 500, " 2.5Mbyte/s"},
      {k4G + 5000, k4G, 1000, " 0.0byte/s"},  // a reconnect counts fewer bytes
  };
  for (const auto& [mark, now, elapsed, text] : cases)
    EXPECT_EQ(format_speed(speed_between(static_cast<std::int64_t>(mark), now, elapsed), false),
              text)
        << mark;
  // A record stopped in three divisions of 32-bit counts whose sum passes 4 GiB.
  char url[] = "http://h/f.zip", text[] = "t", proxy[] = "q:2", stale[] = "Cookie: old\r\n",
       name[] = "/dl/f(1).zip";
  std::int32_t status[3] = {2, 206, 206}, fill[3] = {0, 1000, 7};
  std::uint32_t len[3] = {4000000000u, 4000000000u, 0}, done[3] = {4000000000u, 3000000000u, 5};
  ItemData source{};
  source.url = url, source.referer = text, source.user_agent = text, source.save_path = text;
  source.proxy = proxy, source.extra_header = stale, source.disk.file_name = name;
  source.div_count = 3, source.div_status = status, source.disk.buf_fill = fill;
  source.disk.range_len = len, source.disk.range_done = done;
  EXPECT_EQ(bytes_done(source, nullptr, true), 7000001012u);
  // The resume adopts the record's copies and reads no profile; it measures
  // its first speed from what the file holds (the shares start empty), and
  // goes on in the file it was writing.
  item_.saved = SavedRecord(api_.copy_itemdata(nullptr, &source), SavedRecordDeleter{&api_});
  item_.slot_link = kResumePending, item_.cookie_line = "Cookie: a=b\r\n";
  ASSERT_EQ(start("http://h/f.zip", "Div=9\nProxy=p:1", "Div=9"), 1);
  // The engine reads the cookie line from the slot's own copy.
  EXPECT_EQ(std::tuple(item_.saved.get(), record_.state, record_.div_count,
                       std::string(record_.proxy), std::string(record_.extra_header)),
            std::tuple(nullptr, TVN_STATE_EMPTY, 3, "q:2", "Cookie: a=b\r\n"));
  for (char* copy : {record_.url, record_.referer, record_.user_agent, record_.save_path,
                     record_.proxy, record_.extra_header})
    EXPECT_TRUE(strings_.owns(copy));
  EXPECT_FALSE(strings_.owns(record_.disk.file_name));
  EXPECT_EQ(std::tie(item_.last_bytes, item_.target_path, item_.opening),
            std::tuple(7000000005, "/dl/f(1).zip", &record_));
  free_record();
  // A fresh start has neither.
  ASSERT_EQ(start("http://h/f.zip"), 0);
  EXPECT_EQ(std::tie(item_.last_bytes, item_.target_path, item_.opening),
            std::tuple(0, "", &record_));
}

// The response header corrects the size ("FileSize") and picks the count
// from the size table only while the probe is out, never above the count
// prepared. Past 4 GiB both see the whole size, and the corrected one is
// stored whole beside its saturated field.
TEST_F(ItemSettings, FileSizeAndTheTableOnlyWhileProbingAndPast4GiB) {
  test::write_file(tmp_ / "Torvane.ini",
                   "[Divide]\n0-999=-7\n1000-1999=8\n2000-2999=2\n4294967296-=3\n");
  constexpr std::int32_t kProbing = TVN_STATE_PROBING, kLoading = TVN_STATE_DOWNLOADING;
  // state, run flags, reported size, FileSize; size and count after (prepared 4)
  const std::tuple<std::int32_t, std::uint32_t, std::uint64_t, const char*, std::uint64_t, int>
      cases[] = {
          {kProbing, 0, 1000, "+100", 1100, 4},  // a row of 8 capped
          {kLoading, TVN_RUN_PROBE_SENT, 1000, "-100", 900, 4},
          {kProbing, 0, 2500, "-3000", 0, 2},                 // the table reads the reported size
          {kProbing, 0, 500, "99999999999", 99999999999, 1},  // a negative row
          {kProbing, 0, 0, "5000", 0, 4},                     // no size reported: never corrected
          {kLoading, TVN_RUN_PROBE_DONE, 2500, "5000", 2500, 4},
          {kProbing, 0, 9000, "+4294967295", 4294976295, 4},  // no row for 9000
          {kProbing, 0, k5G, "+1024", k5G + 1024, 3},
          {kProbing, 0, k4G - 1, "+1", k4G, 4},
          {kProbing, 0, k5G, "99999999999999999999", kMaxFileSizeValue, 3},
      };
  for (const auto& [state, flags, size, value, size_after, count] : cases) {
    profiles("", std::string("FileSize=") + value);  // the item has no URL yet: the default
    record_.state = state, record_.run_flags = flags;
    record_.disk.file_size = tvn_narrow_size(size), wide_.file_size = size;
    record_.div_count = item_.division_count = 4;
    EXPECT_EQ(on_header_received(&record_, &wide_, &item_, 4, strings_, env_), 0);
    EXPECT_EQ(std::tuple(RecordSizes(record_, &wide_).file_size(), record_.disk.file_size,
                         record_.div_count, item_.division_count),
              std::tuple(size_after, tvn_narrow_size(size_after), count, count))
        << state << " " << flags << " " << size << " " << value;
  }
  // A profile's Div, even 0 (read as 1), is never overruled by the table.
  ASSERT_EQ(start("http://h/f.zip", "Div=0"), 0);
  record_.state = kProbing, record_.disk.file_size = 2500;
  EXPECT_EQ(on_header_received(&record_, &wide_, &item_, 1, strings_, env_), 0);
  EXPECT_EQ(std::tie(record_.div_count, item_.division_count, record_.buffer_size),
            std::tuple(1, 1, 40000));
  EXPECT_EQ(on_header_received(&record_, &wide_, nullptr, 1, strings_, env_), 0);  // no item linked
}

std::uint64_t kWideDone[1] = {k4G + 7};
WideSizes g_slot_wide{.file_size = k5G, .range_len = nullptr, .range_done = kWideDone};

// The texts of a download past 4 GiB read its whole sizes; a saturated field
// whose whole value is not there (no engine, or not stored yet) stays
// 4 GiB - 1 rather than turning into another number.
TEST(WholeSizes, TextsAndCountsPast4GiB) {
  std::int32_t status[2] = {206, 206}, fill[2] = {100, 0};
  std::uint32_t len[2] = {TVN_SIZE_WIDE, 1u << 30}, done[2] = {TVN_SIZE_WIDE, 5};
  std::uint64_t whole_len[2] = {k4G + 1000, 1u << 30}, whole_done[2] = {k4G + 7, 5};
  ItemData r{};
  r.state = TVN_STATE_DOWNLOADING, r.div_count = 2, r.div_status = status;
  r.disk.buf_fill = fill, r.disk.range_len = len, r.disk.range_done = done;
  r.disk.file_size = TVN_SIZE_WIDE;
  WideSizes wide{k5G, whole_len, whole_done}, stale{k4G - 5, nullptr, nullptr};
  const RecordSizes sizes(r, &wide);
  EXPECT_EQ(
      std::tuple(sizes.file_size(), sizes.range_len(0), sizes.range_done(0), sizes.range_done(1)),
      std::tuple(k5G, k4G + 1000, k4G + 7, 5ull));
  const auto done_running = bytes_done(r, &wide, false);
  status[0] = TVN_DIV_DONE;
  EXPECT_EQ(
      std::tuple(RecordSizes(r, nullptr).file_size(), RecordSizes(r, &stale).range_done(0),
                 RecordSizes(r, &stale).file_size(), done_running, bytes_done(r, &wide, true)),
      std::tuple(TVN_SIZE_WIDE, TVN_SIZE_WIDE, TVN_SIZE_WIDE, k4G + 112, k4G + 1005));

  const std::pair<std::string, std::string> texts[] = {
      {progress_text(k4G + 1, k5G), "4294967297 / 5368709120 (80%)"},
      {detail_row_text(0, 206, 1, 5, static_cast<std::int64_t>(k4G + 10), k5G),
       "000/Status:ＤＬ | Try 01/05 | 4294967306 / 5368709120 (80%)"},
      {std::to_string(size_from_progress("4294967297 / 5368709120 (80%)")), "5368709120"},
  };
  for (const auto& [text, expected] : texts) EXPECT_EQ(text, expected);

  EngineContext context{};
  context.slot_count = 1, context.items = &r;
  const auto wide_of = [](EngineContext*, int) { return &g_slot_wide; };
  EXPECT_NE(item_status_text(context, wide_of).find("wf000=4294967303\r\nwf001=5\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace torvane
