// The item list file: exact bytes, saved-record round trips, and damaged or
// cut-off files (every record that reads kept, the damage counted, nothing
// leaked or over-read), framed and as files were written before frames.
#include "core/queue/item_list_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_files.h"

namespace torvane {
namespace {

// The engine's own heap functions, so ASan sees exactly what free_itemdata frees.
const EngineApi kApi{.copy_itemdata = &::copy_itemdata,
                     .free_itemdata = &::free_itemdata,
                     .GetMem = &::GetMem,
                     .FreeMem = &::FreeMem};

std::string le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
const auto text = [](std::string_view t) { return le32(t.size()) + std::string(t); };

// The same list as written before records had frames: each frame taken off.
std::string unframed(std::string_view bytes) {
  std::string out(bytes.substr(0, kItemListHeader.size()));
  for (std::size_t at = out.size(); at + kItemListFrameSize <= bytes.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at + 4);
    const std::size_t n = p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24;
    out.append(bytes.substr(at + kItemListFrameSize, n));
    at += kItemListFrameSize + n;
  }
  return out;
}

ListItem& add(ItemList& list, std::int32_t state, std::string_view url, const char* div = "2") {
  ListItem& item = *list.at(static_cast<std::int64_t>(list.append(ItemList::Growth::kByTen)));
  item.state = state;
  set_field(item.division_text, div);
  set_field(item.save_folder, "/dl/");
  set_field(item.url, url);
  return item;
}

// A record as a stop leaves it, 3 divisions: a deep copy in the engine's heap.
// Its cookie pointer and file handle belong to this run and must not be stored.
SavedRecord stopped_record() {
  std::int32_t status[3] = {2, 206, 206}, retries[3] = {3, 4, 5}, stop[4] = {0, 0, 0, 1},
               socks[3] = {40, 41, 42}, fill[3] = {7, 8, 9};
  std::uint32_t len[3] = {1000000, 1000000, 1000001}, done[3] = {5, 6, 0xFFFFFFF2u};
  char referer[] = "http://ref/", agent[] = "UA/1", proxy[] = "proxy:3128", name[] = "/dl/a.zip",
       cookie[] = "Cookie: a=b\r\n";
  ItemData r{};
  r.state = TVN_STATE_DOWNLOADING, r.options = TVN_OPT_AUTO_RESUME, r.div_count = 3;
  r.conn.port = 8080, r.conn.address[15] = 0xAB, r.disk.file_size = 3000000, r.disk.file = 7;
  r.referer = referer, r.user_agent = agent, r.proxy = proxy, r.disk.file_name = name;
  r.extra_header = cookie, r.div_status = status, r.div_retries = retries, r.div_stop = stop;
  r.conn.sockets = socks, r.disk.range_len = len, r.disk.range_done = done, r.disk.buf_fill = fill;
  return SavedRecord(kApi.copy_itemdata(nullptr, &r), SavedRecordDeleter{&kApi});
}

// Decodes from an exact-size heap copy, so ASan sees a read past the end.
ItemList decoded(std::string_view bytes, ItemListDamage* damage = nullptr) {
  const std::vector<char> exact(bytes.begin(), bytes.end());
  ItemList list;
  EXPECT_EQ(decode_item_list(std::string_view(exact.data(), exact.size()), list, kApi, damage), 0);
  return list;
}

// What a list reads back as: each item's name (its URL past "http://h/")
// with '+' when its saved record was kept, '-' when not; then the records
// left out and the items kept without their saved record.
std::string read_back(std::string_view bytes) {
  ItemListDamage damage;
  const ItemList back = decoded(bytes, &damage);
  std::string out;
  for (std::size_t i = 0; i < back.size(); ++i) {
    const ListItem& item = *back.at(static_cast<std::int64_t>(i));
    const ItemData* saved = item.saved.get();
    out += std::string(item.url).substr(9) + (saved ? "+" : "-");
    // The division text is the kept record's count; whole sizes stay only
    // with a kept record whose fields are saturated.
    EXPECT_EQ(item.division_text, saved ? std::to_string(saved->div_count) : "2") << out;
    EXPECT_EQ(item.saved_wide.empty(), !saved || saved->disk.file_size != TVN_SIZE_WIDE) << out;
    EXPECT_EQ(item.state, kResting) << out;
  }
  return out + " " + std::to_string(damage.unreadable) + " " +
         std::to_string(damage.without_record);
}

TEST(ItemListFile, EmptyFileExactBytesAndRunningStatesAsWaiting) {
  test::TempDir dir;
  ItemList list;
  ASSERT_EQ(write_item_list(dir / "test.tvn", list, false), 0);
  EXPECT_EQ(test::read_file(dir / "test.tvn"), "");  // not even the header
  EXPECT_EQ(read_item_list(dir / "test.tvn", list, kApi), 0);
  EXPECT_TRUE(list.empty());

  for (std::int32_t s = kWaiting; s <= kResting; ++s) add(list, s, "http://h/f.zip");
  for (const bool running_as_waiting : {true, false}) {
    const std::string bytes = unframed(encode_item_list(list, running_as_waiting));
    const std::string integer0 = le32(4) + le32(0), record = bytes.substr(kItemListHeader.size());
    EXPECT_EQ(bytes.substr(0, kItemListHeader.size() + 63),
              std::string(kItemListHeader) + integer0 + text("2") + text("/dl/") +
                  text("http://h/f.zip") + integer0 + integer0 + le32(0) + "\r\n\r\n");
    // The header's text is not compared, but without its blank line nothing is an item.
    EXPECT_TRUE(decoded(record.substr(0, 63)).empty());
    const ItemList back = decoded("Other\r\n\r\n" + record);
    ASSERT_EQ(back.size(), 8u);
    for (std::int32_t s = kWaiting; s <= kResting; ++s) {  // 63 bytes a record
      const bool running = s >= kInitialising && s <= kDownloading;
      EXPECT_EQ(record.substr(4 + 63 * s, 4), le32(running && running_as_waiting ? kWaiting : s));
      EXPECT_EQ(back.at(s)->state, running ? kWaiting : s);
    }
  }
}

TEST(ItemListFile, LongTextsWrittenWholeAndCutToFieldsOnReading) {
  // The URL in the file and the file name read back (the URL cut to 2047).
  const std::pair<std::string, std::string> cases[] = {
      {"http://h/" + std::string(291, 'u'), std::string(291, 'u')},
      {"http://h/dir/", ""},
      {"http://h/" + std::string(3000, 'v'), std::string(511, 'v')},
  };
  ItemList list;
  for (const auto& [url, name] : cases) add(list, kWaiting, url.size() < 2048 ? url : "z");
  list.at(0)->cookie_line = std::string(20000, 'c');  // past any fixed buffer
  // Past the bound: left out, and the reading goes on.
  list.at(1)->cookie_line = std::string(kMaxStoredHeapText + 1, 'c');
  std::string bytes = unframed(encode_item_list(list, false));
  // The over-long URL by hand: an item holds at most 2047 bytes.
  bytes.replace(bytes.find(text("z")), 5, text(cases[2].first));
  EXPECT_NE(bytes.find(std::string("\x2c\x01\0\0", 4) + "http://h/u"), std::string::npos);
  const ItemList back = decoded(bytes);
  ASSERT_EQ(back.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(back.at(i)->url + ("|" + std::string(back.at(i)->file_name)),
              cases[i].first.substr(0, 2047) + "|" + cases[i].second);
  EXPECT_EQ(back.at(0)->cookie_line.size(), 20000u);
  EXPECT_EQ(back.at(1)->cookie_line, "");
}

TEST(ItemListFile, SavedRecordLayoutRoundTripCutsAndDamage) {
  // A resting item with 3 divisions, then a waiting one.
  ItemList list;
  add(list, kResting, "http://h/a.zip", "8").saved = stopped_record();
  add(list, kWaiting, "http://h/b.zip");
  const std::string good = unframed(encode_item_list(list, false));
  // After the URL, two integers and the cookie line: the 148-byte block.
  const std::size_t block = good.find(text("http://h/a.zip")) + 18 + 16 + 8;
  // Integers at their 32-bit offsets (state, options, div_count, port, the
  // address's last byte, file size); extra_header and the file handle as 0.
  const std::pair<std::size_t, std::uint32_t> words[] = {
      {0, 4}, {40, 8}, {48, 3}, {80, 8080}, {100, 0xAB000000u}, {112, 3000000}, {36, 0}, {104, 0}};
  for (const auto& [offset, value] : words)
    EXPECT_EQ(good.substr(block + offset, 4), le32(value)) << offset;
  // The block, five texts, seven arrays of 3 values (div_stop 4) and the terminator.
  // Each length is read 4 back, so at the end first_end is past the terminator.
  std::size_t first_end = block;
  for (const std::uint32_t n : {148, 11, 4, 0, 10, 9, 12, 12, 16, 12, 12, 12, 12}) {
    EXPECT_EQ(good.substr(first_end - 4, 4), le32(n)) << first_end;
    first_end += 4 + n;
  }
  ASSERT_EQ(good.substr(first_end - 4, 4), "\r\n\r\n");

  ItemList back = decoded(good);
  ASSERT_EQ(back.size(), 2u);
  const ItemData& b = *back.at(0)->saved;
  EXPECT_STREQ(back.at(0)->division_text, "3");
  EXPECT_EQ(b.disk.count_ref, &b.div_count);
  EXPECT_EQ(std::string(b.url) + "|" + b.save_path, "http://h/a.zip|/dl/");
  EXPECT_TRUE(b.conn.host && b.request_path && b.disk.buf_ptr);
  // Apart from the division text (now div_count) and the sockets (the earlier
  // run's are not carried over), every field and array reads back as written.
  EXPECT_EQ(std::vector(b.conn.sockets, b.conn.sockets + 3), std::vector(3, -1));
  std::fill_n(list.at(0)->saved->conn.sockets, 3, -1);
  set_field(back.at(0)->division_text, "8");
  EXPECT_EQ(encode_item_list(back, false), encode_item_list(list, false));

  for (std::size_t cut = 0; cut <= good.size(); ++cut)
    EXPECT_EQ(decoded(good.substr(0, cut)).size(), cut == good.size() ? 2u : cut >= first_end)
        << "cut " << cut;
  // what is damaged, where (4 bytes replaced), by what, the records kept:
  // after a damaged first record the reading goes on at the second one.
  const std::tuple<const char*, std::size_t, std::string, std::size_t> cases[] = {
      {"integer length 5", first_end, le32(5), 1},
      {"div_count above the bound", block + 48, le32(4097), 1},
      {"div_stop one short", good.find(le32(16), block + 148), le32(12), 1},
      {"record block not 148", block - 4, le32(147), 1},
      {"no terminator", first_end - 4, "\r\nXY", 0},
      {"unknown state", first_end + 4, le32(9), 2},
  };
  for (const auto& [name, at, bytes, kept] : cases) {
    ItemListDamage damage;
    const ItemList damaged = decoded(std::string(good).replace(at, 4, bytes), &damage);
    EXPECT_EQ(std::tuple(damaged.size(), damage.unreadable,
                         damaged.size() == 2 ? damaged.at(1)->state : kWaiting),
              std::tuple(kept, kept == 2 ? 0 : 1, kWaiting))
        << name;
  }
}

// Framed records: one damaged record costs that record (or, when only its
// saved record is hit, that record's progress), never the ones around it.
TEST(ItemListFile, DamageCostsOnlyTheDamagedRecord) {
  ItemList list;
  for (const char* name : {"a", "b", "c"}) {
    add(list, kResting, std::string("http://h/") + name).saved = stopped_record();
  }
  const std::string three = encode_item_list(list, false);
  list.take(2);
  list.take(1);
  const std::string one = encode_item_list(list, false);
  const std::size_t b = three.find(kItemListFrameMark, kItemListHeader.size() + 1);
  const std::size_t block = one.find(le32(148)) + 4;
  const auto flip = [](std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    return bytes;
  };
  // what, the bytes, what reads back (see read_back)
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"the only record's URL", flip(one, one.find("http://h/a") + 4), " 1 0"},
      {"the only record's saved record", flip(one, block + 60), "a- 0 1"},
      {"cut in the only record's saved record", one.substr(0, block + 200), "a- 0 1"},
      {"the middle record's URL", flip(three, three.find("http://h/b") + 4), "a+c+ 1 0"},
      {"the middle record's length", flip(three, b + 5), "a+c+ 1 0"},
      {"the middle record's saved record", flip(three, three.find("http://h/b") + 100),
       "a+b-c+ 0 1"},
      {"undamaged, without frames", unframed(three), "a+b+c+ 0 0"},
  };
  for (const auto& [what, bytes, expected] : cases) EXPECT_EQ(read_back(bytes), expected) << what;
}

constexpr std::uint64_t k4G = 1ull << 32, k5G = 5ull << 30;

std::string le64(std::uint64_t v) {
  return le32(static_cast<std::uint32_t>(v)) + le32(static_cast<std::uint32_t>(v >> 32));
}

// A 5 GiB item stopped in two divisions, the first of them past 4 GiB long
// and done: its fields saturated, its whole sizes beside it.
void add_5gib(ItemList& list, std::string_view url) {
  std::int32_t status[2] = {206, 206}, zeros[3] = {}, sockets[2] = {-1, -1};
  std::uint32_t len[2] = {TVN_SIZE_WIDE, 1u << 30}, done[2] = {TVN_SIZE_WIDE, 12345};
  ItemData r{};
  r.div_count = 2, r.disk.file_size = TVN_SIZE_WIDE, r.div_status = status;
  r.div_retries = r.div_stop = r.disk.buf_fill = zeros, r.conn.sockets = sockets;
  r.disk.range_len = len, r.disk.range_done = done;
  ListItem& item = add(list, kResting, url);
  item.saved = SavedRecord(kApi.copy_itemdata(nullptr, &r), SavedRecordDeleter{&kApi});
  item.saved_wide = {.file_size = k5G, .range_len = {k4G, k5G - k4G}, .range_done = {k4G, 12345}};
}

// Whole sizes ride after the arrays, inside the frame; a record below 4 GiB
// is written as before, and damage to the whole sizes costs the item its
// progress only.
TEST(ItemListFile, WholeSizesOfA5GiBItemRoundTripAndTheirDamage) {
  ItemList list;
  add_5gib(list, "http://h/a");
  add(list, kResting, "http://h/b").saved = stopped_record();
  ItemList below;
  add(below, kResting, "http://h/b").saved = stopped_record();
  const std::string good = encode_item_list(list, false);
  const std::string whole = std::string(kItemListWideTag) + le32(44) + le32(2) + le64(k5G) +
                            le64(k4G) + le64(k5G - k4G) + le64(k4G) + le64(12345);
  const std::size_t at = good.find(whole + "\r\n\r\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(good.find(kItemListWideTag, at + 1), std::string::npos);
  EXPECT_TRUE(good.ends_with(encode_item_list(below, false).substr(kItemListHeader.size())));

  const ItemList back = decoded(good);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_TRUE(back.at(1)->saved_wide.empty());
  // As read back: the division text is the record's count, the sockets none.
  std::fill_n(list.at(1)->saved->conn.sockets, 3, -1);
  set_field(list.at(1)->division_text, "3");
  EXPECT_EQ(encode_item_list(back, false), encode_item_list(list, false));

  // A saturated record without whole sizes that belong to it is not written:
  // it would resume at 4 GiB - 1.
  list.at(0)->saved_wide.range_done[0] = k4G - 2;
  EXPECT_EQ(encode_item_list(list, false).find(kItemListWideTag), std::string::npos);
  EXPECT_EQ(decoded(encode_item_list(list, false)).at(0)->saved, nullptr);

  // what, the bytes, what reads back (see read_back)
  const std::size_t count = at + 8;
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"a flipped value", std::string(good).replace(count + 12, 1, "\x55"), "a-b+ 0 1"},
      {"cut in the whole sizes", good.substr(0, count + 20), "a- 0 1"},
      {"without frames", unframed(good), "a+b+ 0 0"},
      {"without frames, another count", unframed(std::string(good).replace(count, 4, le32(3))),
       "b+ 1 0"},
  };
  for (const auto& [what, bytes, expected] : cases) EXPECT_EQ(read_back(bytes), expected) << what;
}

// A list file the previous version wrote (two downloads stopped in three
// divisions, one waiting) reads exactly, and writes back byte for byte.
TEST(ItemListFile, AFileOfThePreviousVersionReadsExactly) {
  const std::string bytes =
      test::read_file(std::string(TORVANE_TEST_DATA_DIR) + "/list_before_wide_sizes.tvn")
          .value_or("");
  ASSERT_FALSE(bytes.empty());
  ItemListDamage damage;
  const ItemList list = decoded(bytes, &damage);
  EXPECT_FALSE(damage.any());
  ASSERT_EQ(list.size(), 3u);
  // Two stopped in three divisions, then one waiting: sizes, bytes done and validators.
  const std::tuple<std::uint32_t, std::uint32_t, const char*> saved[] = {
      {3000000, 306914 + 306908 + 306908, "\"6b17ad35-2dc6c0\""},
      {2000000, 306914 + 306909 + 306909, "\"6b17ad35-1e8480\""}};
  const std::string folder = "/tmp/c18-sample/run/out/", host = "http://127.0.0.1:18731/";
  const char* names[] = {"alpha.bin", "beta.bin", "gamma.bin"};
  for (std::size_t k = 0; k < 3; ++k) {
    const ListItem& item = *list.at(static_cast<std::int64_t>(k));
    // The waiting one has its folder but no file or record yet.
    EXPECT_EQ(std::tuple(std::string(item.url), item.state, item.saved_wide.empty(),
                         std::string(item.save_folder), item.target_path, item.saved == nullptr),
              std::tuple(host + names[k], k < 2 ? kResting : kWaiting, true, folder,
                         k < 2 ? folder + names[k] : "", k == 2));
    if (k == 2 || item.saved == nullptr) continue;
    const ItemData& r = *item.saved;
    const auto& [size, done, validator] = saved[k];
    EXPECT_EQ(std::tuple(r.div_count, r.disk.file_size, r.disk.range_len[2],
                         r.disk.range_done[0] + r.disk.range_done[1] + r.disk.range_done[2]),
              std::tuple(3, size, size / 3, done));
    EXPECT_STREQ(r.reserved_text, validator);
  }
  EXPECT_EQ(encode_item_list(list, false), bytes);
}

// The name shown before the engine names the file is the one it will get.
TEST(ListItemName, FileNameOfUrlDropsQueryAndFragment) {
  for (const auto& [url, name] : std::vector<std::pair<std::string_view, std::string_view>>{
           {"http://h/a/f.bin", "f.bin"}, {"http://h/f.bin?x=1#y/z", "f.bin"}})
    EXPECT_EQ(file_name_of_url(url), name) << url;
}

}  // namespace
}  // namespace torvane
