// The disk layer and saved records: file names from save path and URL,
// opening without truncation, the empty-file delete at close, division
// writes at their place, and copies of item records that own everything.
#include "engine/disk_io.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_files.h"

namespace torvane::engine {
namespace {

TEST(DiskFileName, FolderOrFullPathWithTheUrlsLastPart) {
  const std::string too_long(TVN_PATH_CAPACITY, 'n');
  const std::tuple<const char*, std::string, const char*> cases[] = {
      // nullptr: refused
      {"/d/", "http://h/a/", "/d/index.html"},
      {"/d/", "http://h/a/f.bin?x=1?y", "/d/f.bin?x=1"},    // cut at the last question mark
      {"/d/", "http://h/?q=1", "/d/"},                      // only a query: the folder itself
      {"/d/f.out", "http://h/whatever.bin?x", "/d/f.out"},  // a full path is used as it is
      {"/what?/", "http://h/f.bin", "/what?/f.bin"},        // a '?' in the folder stays
      {"/d/", "http://h/a b.bin#p/q?r", "/d/a b.bin"},      // as given, less the fragment
      {"/d/", "http://h/a/#top", "/d/index.html"},
      {"/d/", "http://h/" + too_long, nullptr},  // our choice: refused, never cut
  };
  for (const auto& [save_path, url, expected] : cases) {
    char out[TVN_PATH_CAPACITY] = "x";
    EXPECT_EQ(DiskIO_MakeFileName(save_path, url.c_str(), out), expected ? 0 : -1) << url;
    EXPECT_STREQ(out, expected ? expected : "") << url;
  }
}

// Only a file that the open itself created is deleted when it is still
// empty at close, and not when its item finished.
TEST(DiskFiles, CloseDeletesOnlyAnEmptyFileItsOpenCreated) {
  test::TempDir dir;
  DiskIO disk{};
  const std::string deep = dir / "a/b/file.bin", kept = dir / "kept", empty = dir / "empty",
                    finished = dir / "finished";
  ASSERT_TRUE(test::write_file(kept, "hello"));
  ASSERT_TRUE(test::write_file(empty, ""));
  for (const std::string& path : {deep, kept, empty, finished, std::string("/dev/null")}) {
    ASSERT_EQ(DiskIO_OpenFile(&disk, path.c_str()), 0) << path;  // folders made on the way
    ASSERT_EQ(path == finished ? close_item_file(disk, true) : DiskIO_CloseHandle(&disk), 0);
    EXPECT_EQ(DiskIO_CheckFile(path.c_str()), path == deep ? 0 : 1) << path;
  }
  EXPECT_EQ(test::read_file(kept), "hello") << "opened without truncation";
  EXPECT_EQ(DiskIO_OpenFile(&disk, dir.path().c_str()), -1) << "a folder is not a file";
}

// Each division writes at its own place and never past its range (an
// open-ended one past the file's end); a full disk keeps the bytes in the
// share and is reported once, as a full disk, not on every pass.
TEST(DivisionWriter, WritesAtItsPlaceAndReportsAFullDiskOnce) {
  test::TempDir dir;
  const std::string path = dir / "out.bin";
  static std::vector<std::string> messages;  // the texts of notice 401
  EngineContext ctx{};
  ctx.callback = [](EngineContext*, int code, int, int, void* data) {
    if (code == TVN_NOTICE_MESSAGE) messages.push_back(static_cast<const char*>(data));
    return 0;
  };
  ItemData item{};
  item.div_count = 4;
  item.disk.count_ref = &item.div_count;
  ASSERT_EQ(allocate_disk_arrays(item.disk, 4), 0);
  ASSERT_EQ(cut_buffer(item, 4 * 8192), 0);
  std::copy_n(std::vector<std::uint32_t>{10, 10, 10, 0}.begin(), 4, item.disk.range_len);
  std::copy_n(std::vector<std::uint32_t>{0, 4, 10, 25}.begin(), 4, item.disk.range_done);
  ASSERT_EQ(DiskIO_OpenFile(&item.disk, path.c_str()), 0);
  const auto write = [&](int i, const std::string& bytes) {
    std::memcpy(item.disk.buf_ptr[i] + item.disk.buf_fill[i], bytes.data(), bytes.size());
    item.disk.buf_fill[i] += static_cast<std::int32_t>(bytes.size());
    return write_division(&ctx, 0, item, i);
  };
  EXPECT_EQ(write(0, "0123"), 0);
  EXPECT_EQ(write(1, "ABCDEFGHIJ"), 0);  // six bytes left in its range: the rest is dropped
  EXPECT_EQ(write(2, "zz"), 0);          // a complete range takes nothing more
  ASSERT_TRUE(test::redirect_descriptor(item.disk.file, "/dev/full"));
  EXPECT_EQ(write(3, "X"), kWriteRefused);
  EXPECT_EQ(write(3, "Y"), kWriteRefused);
  EXPECT_EQ(messages, std::vector<std::string>{"disk full: " + path});
  ASSERT_TRUE(test::redirect_descriptor(item.disk.file, path));
  EXPECT_EQ(write(3, ""), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&item.disk), 0);
  release_disk_arrays(item.disk);
  const std::string zeros(35, '\0');
  EXPECT_EQ(test::read_file(path), "0123" + zeros.substr(0, 10) + "ABCDEF" + zeros + "XY");
}

// Every text and array a saved copy keeps, spelled out.
std::string contents(const ItemData& it) {
  std::string s;
  for (const char* t : {it.referer, it.user_agent, it.reserved_text, it.url, it.save_path, it.proxy,
                        it.disk.file_name})
    s += std::string(t) + "|";
  for (const std::int32_t* a :
       {it.div_status, it.div_retries, it.div_stop, it.conn.sockets, it.disk.buf_fill})
    for (int i = 0; i < it.div_count; ++i) s += std::to_string(a[i]) + ",";
  for (int i = 0; i < it.div_count; ++i)
    s += std::to_string(it.disk.range_len[i] + 10000 * it.disk.range_done[i]);
  return s + "|" + std::to_string(it.div_stop[it.div_count]);
}

// A record as a stopped 3-division download leaves it, every pointer set,
// all freed once copied (ASan watches).
TEST(CopyItemData, TheCopyOwnsEverythingAndOutlivesItsSource) {
  ItemData* copy = nullptr;
  std::string expected;
  {
    std::vector<std::string> texts = {"http://127.0.0.1/ref",   "Agent/1",    "reserved",
                                      "http://127.0.0.1/f.bin", "/tmp/save/", "127.0.0.1:3128",
                                      "/tmp/save/f.bin",        "127.0.0.1",  "/f.bin"};
    std::vector<std::int32_t> ints = {2, 3, 150, 5, 1, 4, 0, 1, 1, 1, -1, 7, -1, 0, 0, 5};
    std::vector<std::uint32_t> lens = {1000, 1000, 999, 1000, 10, 700};
    std::vector<char*> ptrs(3);
    std::vector<char> block(24576);
    ItemData src{};
    src.div_count = 3;
    src.disk = {42,          nullptr,   3000,         &lens[0], &lens[3],
                ptrs.data(), &ints[13], block.data(), nullptr};
    char** fields[] = {&src.referer,     &src.user_agent, &src.reserved_text,  &src.url,
                       &src.save_path,   &src.proxy,      &src.disk.file_name, &src.conn.host,
                       &src.request_path};
    for (std::size_t i = 0; i < texts.size(); ++i) *fields[i] = texts[i].data();
    src.div_status = &ints[0];
    src.div_retries = &ints[3];
    src.div_stop = &ints[6];
    src.conn.sockets = &ints[10];
    expected = contents(src);
    copy = copy_itemdata(nullptr, &src);
    ASSERT_NE(copy, nullptr);
  }
  EXPECT_EQ(contents(*copy), expected);
  // The engine's connection state and buffer do not travel with a saved copy.
  EXPECT_TRUE(!copy->conn.host && !copy->request_path && !copy->disk.buf_block);
  EXPECT_EQ(std::vector<char*>(copy->disk.buf_ptr, copy->disk.buf_ptr + 3), std::vector<char*>(3));
  EXPECT_EQ(copy->disk.count_ref, &copy->div_count);
  // A redirect may rewrite the url in place with a URL of up to 2047 bytes.
  EXPECT_GE(malloc_usable_size(copy->url), static_cast<std::size_t>(TVN_URL_CAPACITY));

  // Copying into a record releases what it held first; a record without
  // arrays copies too.
  ItemData plain{};
  plain.url = expected.data();
  ASSERT_EQ(copy_itemdata(copy, &plain), copy);
  EXPECT_EQ(copy->div_status, nullptr);
  EXPECT_STREQ(copy->url, expected.c_str());
  free_itemdata(copy);
  FreeMem(&copy);
  EXPECT_EQ(copy, nullptr);
}

}  // namespace
}  // namespace torvane::engine
