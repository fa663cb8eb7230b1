// The item list file: exact bytes, saved-record round trips, and damaged or
// cut-off files (every complete record kept, nothing leaked or over-read).
#include "gui/shell/item_list_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace torvane {
namespace {

// The engine's own heap functions, so ASan sees exactly what free_itemdata frees.
EngineApi engine_heap() {
  EngineApi api;
  api.GetMem = &::GetMem;
  api.FreeMem = &::FreeMem;
  api.free_itemdata = &::free_itemdata;
  api.copy_itemdata = &::copy_itemdata;
  return api;
}
const EngineApi kApi = engine_heap();

std::string le32(std::uint32_t v) {
  const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
  return std::string(b, 4);
}
std::string text(std::string_view t) {
  return le32(static_cast<std::uint32_t>(t.size())) + std::string(t);
}
std::string integer(std::int32_t v) {
  return le32(4) + le32(static_cast<std::uint32_t>(v));
}

ListItem& add(ItemList& list, std::int32_t state, std::string_view url,
              std::string_view div = "2") {
  ListItem& item = *list.at(static_cast<std::int64_t>(list.append(ItemList::Growth::kByTen)));
  item.state = state;
  set_field(item.division_text, div);
  set_field(item.save_folder, "/dl/");
  set_field(item.url, url);
  return item;
}

char g_cookie[] = "Cookie: a=b\r\n";

// A record as a stop leaves it, 3 divisions: a deep copy in the engine's heap.
SavedRecord stopped_record() {
  std::int32_t status[3] = {2, 206, 206}, retries[3] = {3, 4, 5}, stop[4] = {0, 0, 0, 1},
               sockets[3] = {40, 41, 42}, fill[3] = {7, 8, 9};
  std::uint32_t len[3] = {1000000, 1000000, 1000001}, done[3] = {5, 6, 0xFFFFFFF2u};
  char referer[] = "http://ref/", agent[] = "UA/1", proxy[] = "proxy:3128", name[] = "/dl/a.zip";
  ItemData r{};
  r.state = TVN_STATE_DOWNLOADING;
  r.options = TVN_OPT_AUTO_RESUME;
  r.div_count = 3;
  r.conn.port = 8080;
  r.conn.address[15] = 0xAB;
  r.disk.file_size = 3000000;
  r.referer = referer;
  r.user_agent = agent;
  r.proxy = proxy;
  r.disk.file_name = name;
  r.extra_header = g_cookie;  // pointers and handles of this run must not be stored
  r.disk.file = 7;
  r.div_status = status;
  r.div_retries = retries;
  r.div_stop = stop;
  r.conn.sockets = sockets;
  r.disk.range_len = len;
  r.disk.range_done = done;
  r.disk.buf_fill = fill;
  return SavedRecord(kApi.copy_itemdata(nullptr, &r), SavedRecordDeleter{&kApi});
}

// A resting item with 3 divisions, then a waiting one.
std::string two_record_file(std::size_t* first_end = nullptr) {
  ItemList list;
  ListItem& resting = add(list, kResting, "http://h/a.zip", "8");
  resting.cookie_line = "Cookie: a=b\r\n";
  resting.saved = stopped_record();
  add(list, kWaiting, "http://h/b.zip");
  const std::string bytes = encode_item_list(list, false);
  const std::size_t block_end = bytes.find(le32(148)) + 4 + 148;
  if (first_end != nullptr) *first_end = bytes.find("\r\n\r\n", block_end) + 4;
  return bytes;
}

// Decodes from an exact-size heap copy, so ASan sees a read past the end.
ItemList decoded(std::string_view bytes) {
  const std::vector<char> exact(bytes.begin(), bytes.end());
  ItemList list;
  EXPECT_EQ(decode_item_list(std::string_view(exact.data(), exact.size()), list, kApi), 0);
  return list;
}

TEST(ItemListFile, EmptyListAndOneWaitingItemExactBytes) {
  test::TempDir dir;
  ItemList list;
  ASSERT_EQ(write_item_list(dir / "test.tvn", list, false), 0);
  EXPECT_EQ(test::read_file(dir / "test.tvn"), "");  // not even the header
  EXPECT_EQ(read_item_list(dir / "test.tvn", list, kApi), 0);
  EXPECT_EQ(read_item_list(dir / "missing.tvn", list, kApi), -1);
  EXPECT_EQ(write_item_list(dir / "no/such/folder.tvn", list, false), -1);
  EXPECT_TRUE(list.empty());

  add(list, kWaiting, "http://h/a.zip", "4");
  const std::string bytes = encode_item_list(list, false);
  EXPECT_EQ(bytes, std::string(kItemListHeader) + integer(0) + text("4") + text("/dl/") +
                       text("http://h/a.zip") + integer(0) + integer(0) + le32(0) + "\r\n\r\n");
  // The header's text is not compared, but without its blank line nothing is an item.
  EXPECT_TRUE(decoded(bytes.substr(kItemListHeader.size())).empty());
  ItemList back;
  ASSERT_EQ(decode_item_list("Other\r\n\r\n" + bytes.substr(kItemListHeader.size()), back, kApi),
            0);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_STREQ(back.at(0)->file_name, "a.zip");
  EXPECT_EQ(back.at(0)->slot_link, kNoSlot);
  EXPECT_FALSE(back.at(0)->saved);
}

TEST(ItemListFile, LongTextsWrittenWholeAndCutToFieldsOnReading) {
  struct Case {
    std::string url, file_name;
  } cases[] = {
      {"http://h/" + std::string(291, 'u'), std::string(291, 'u')},
      {"http://h/dir/", ""},
      {"no-slash-here", "no-slash-here"},  // the whole URL names the file
      {"http://h/" + std::string(3000, 'v'), std::string(511, 'v')},  // URL cut to 2047
  };
  for (const Case& c : cases) {
    ItemList list;
    add(list, kWaiting, "x").cookie_line = std::string(20000, 'c');  // past any fixed buffer
    // Past the bound: left out, and the reading goes on.
    add(list, kWaiting, "y").cookie_line = std::string(kMaxStoredHeapText + 1, 'c');
    std::string bytes = encode_item_list(list, false);
    // The URL field by hand: the list itself holds at most 2047 bytes.
    const std::size_t at = bytes.find(text("x"));
    bytes.replace(at, 5, text(c.url));
    if (c.url.size() == 300) {
      EXPECT_EQ(bytes.substr(at, 4), std::string("\x2c\x01\0\0", 4));
    }
    ItemList back;
    ASSERT_EQ(decode_item_list(bytes, back, kApi), 0);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(std::string(back.at(0)->url), c.url.substr(0, 2047));
    EXPECT_EQ(std::string(back.at(0)->file_name), c.file_name);
    EXPECT_EQ(back.at(0)->cookie_line.size(), 20000u);
    EXPECT_EQ(back.at(1)->cookie_line, "");
  }
}

TEST(ItemListFile, SavedRecordLayoutAndRoundTrip) {
  ItemList list;
  ListItem& item = add(list, kResting, "http://h/a.zip", "8");
  item.saved = stopped_record();
  const std::string bytes = encode_item_list(list, false);
  std::size_t p = bytes.find(text("http://h/a.zip")) + 18 + 16 + 4;  // URL, two integers, cookie
  ASSERT_EQ(bytes.substr(p, 4), le32(148));
  const std::string stored = bytes.substr(p + 4, 148);
  // Integers at their 32-bit offsets (state, options, div_count, port, file
  // size, the address's last byte); extra_header and the file handle as 0.
  const std::pair<std::size_t, std::uint32_t> words[] = {
      {0, 4}, {40, 8}, {48, 3}, {80, 8080}, {100, 0xAB000000u}, {112, 3000000}, {36, 0}, {104, 0}};
  for (const auto& [offset, value] : words)
    EXPECT_EQ(stored.substr(offset, 4), le32(value)) << offset;
  p += 4 + 148;
  std::vector<std::uint32_t> lengths;
  for (int f = 0; f < 12; ++f) {
    std::uint32_t n = 0;
    std::memcpy(&n, bytes.data() + p, 4);
    lengths.push_back(n);
    p += 4 + n;
  }
  EXPECT_EQ(lengths, (std::vector<std::uint32_t>{11, 4, 0, 10, 9, 12, 12, 16, 12, 12, 12, 12}));
  EXPECT_EQ(bytes.substr(p), "\r\n\r\n");

  ItemList back;
  ASSERT_EQ(decode_item_list(bytes, back, kApi), 0);
  ASSERT_EQ(back.size(), 1u);
  const ItemData& b = *back.at(0)->saved;
  EXPECT_STREQ(back.at(0)->division_text, "3");
  EXPECT_EQ(b.disk.count_ref, &b.div_count);
  EXPECT_STREQ(b.url, "http://h/a.zip");
  EXPECT_STREQ(b.save_path, "/dl/");
  EXPECT_EQ(b.extra_header, nullptr);
  EXPECT_EQ(b.disk.file, 0);
  EXPECT_TRUE(b.conn.host && b.request_path && b.disk.buf_ptr);
  // Apart from the division text (now div_count) and the sockets (the earlier
  // run's are not carried over), every field and array reads back as written.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(b.conn.sockets[i], -1);
    item.saved->conn.sockets[i] = -1;
  }
  set_field(back.at(0)->division_text, "8");
  EXPECT_EQ(encode_item_list(back, false), encode_item_list(list, false));
}

TEST(ItemListFile, EveryCutKeepsExactlyTheCompleteRecords) {
  std::size_t first_end = 0;
  const std::string bytes = two_record_file(&first_end);
  ASSERT_GT(first_end, kItemListHeader.size());
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    const std::size_t expected = cut == bytes.size() ? 2 : cut >= first_end ? 1 : 0;
    EXPECT_EQ(decoded(std::string_view(bytes).substr(0, cut)).size(), expected) << "cut " << cut;
  }
}

TEST(ItemListFile, DamagedRecordEndsTheReading) {
  std::size_t first_end = 0;
  const std::string good = two_record_file(&first_end);
  const std::size_t block = good.find(le32(148)) + 4;
  const std::size_t div_status = good.find(le32(12), block + 148);
  const std::size_t div_stop = good.find(le32(16), block + 148);
  struct Case {
    const char* name;
    std::size_t at;  // these 4 bytes are replaced by `bytes`
    std::string bytes;
    std::size_t kept;
  } cases[] = {
      {"integer length 5", first_end, le32(5), 1},
      {"URL runs past the end", first_end + 8 + 5 + 8, le32(0xFFFFFFFF), 1},
      {"div_count negative", block + 48, le32(0xFFFFFFFF), 0},
      {"div_count above the bound", block + 48, le32(4097), 0},
      {"div_stop one short", div_stop, le32(12), 0},
      {"div_status one too long", div_status, le32(16) + le32(0), 0},
      {"record block not 148", block - 4, le32(147), 0},
      {"no terminator", first_end - 4, "\r\nXY", 0},
      {"unknown state", first_end + 4, le32(9), 2},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    bad.replace(c.at, 4, c.bytes);
    const ItemList list = decoded(bad);
    EXPECT_EQ(list.size(), c.kept) << c.name;
    if (list.size() == 2) {
      EXPECT_EQ(list.at(1)->state, kWaiting) << c.name;
    }
  }
}

TEST(ItemListFile, RunningStatesStoredAndReadBackAsWaiting) {
  ItemList list;
  for (std::int32_t s = kWaiting; s <= kResting; ++s) add(list, s, "http://h/f");
  for (const bool running_as_waiting : {true, false}) {
    const std::string bytes = encode_item_list(list, running_as_waiting);
    ItemList back;
    ASSERT_EQ(decode_item_list(bytes, back, kApi), 0);
    ASSERT_EQ(back.size(), 8u);
    // Each record: 8 + 5 + 8 + 14 + 8 + 8 + 4 bytes and the terminator.
    for (std::int32_t s = kWaiting, p = 28; s <= kResting; ++s, p += 59) {
      const bool running = s >= kInitialising && s <= kDownloading;
      EXPECT_EQ(bytes.substr(p, 4), le32(running && running_as_waiting ? kWaiting : s));
      EXPECT_EQ(back.at(s)->state, running ? kWaiting : s);
    }
  }
}

}  // namespace
}  // namespace torvane
