// Saved copies of item records: a copy must own everything it points at, so
// the source can be freed (or overwritten by the engine) and the copy still
// resumes the download later. ASan's leak check watches every release here.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <string>
#include <vector>

#include "torvane/torvane.h"

namespace {

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
// its buffers freed once copied.
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
  // Engine-made connection state does not travel with a saved copy.
  EXPECT_EQ(copy->conn.host, nullptr);
  EXPECT_EQ(copy->request_path, nullptr);
  EXPECT_EQ(copy->disk.buf_block, nullptr);
  EXPECT_EQ(copy->disk.count_ref, &copy->div_count);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(copy->disk.buf_ptr[i], nullptr);
  // A redirect may rewrite the url in place with a URL of up to 2047 bytes.
  EXPECT_GE(malloc_usable_size(copy->url), static_cast<std::size_t>(TVN_URL_CAPACITY));

  // Copying into a record releases what it held first (ASan's leak check);
  // a record without arrays copies too.
  ItemData plain{};
  plain.url = expected.data();
  ASSERT_EQ(copy_itemdata(copy, &plain), copy);
  EXPECT_EQ(copy->div_status, nullptr);
  EXPECT_EQ(copy->disk.buf_ptr, nullptr);
  EXPECT_STREQ(copy->url, expected.c_str());
  free_itemdata(copy);
  FreeMem(&copy);
  EXPECT_EQ(copy, nullptr) << "FreeMem nulls the pointer";
  auto* p = static_cast<unsigned char*>(GetMem(64));
  EXPECT_EQ(std::count(p, p + 64, 0), 64) << "GetMem gives zeroed memory";
  FreeMem(&p);
}

}  // namespace
