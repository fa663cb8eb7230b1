// Saved copies of item records: a copy must own everything it points at, so
// the source can be freed (or overwritten by the engine) and the copy still
// resumes the download later; and the shared heap pair must be symmetric.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>

#include "torvane/torvane.h"

namespace {

char* heap_text(const char* text) {
  char* p = static_cast<char*>(GetMem(static_cast<unsigned>(std::strlen(text) + 1)));
  std::strcpy(p, text);
  return p;
}

template <class T>
T* heap_array(std::initializer_list<T> values) {
  T* p = static_cast<T*>(GetMem(static_cast<unsigned>(sizeof(T) * values.size())));
  std::copy(values.begin(), values.end(), p);
  return p;
}

// A record as a stopped 3-division download leaves it: every pointer set.
ItemData* stopped_record() {
  auto* item = static_cast<ItemData*>(GetMem(sizeof(ItemData)));
  item->state = TVN_STATE_FAILED;
  item->data_type = TVN_DATA_HTTP;
  item->div_count = 3;
  item->retry = 5;
  item->options = TVN_OPT_AUTO_RESUME;
  item->referer = heap_text("http://127.0.0.1/ref");
  item->user_agent = heap_text("Agent/1");
  item->reserved_text = heap_text("reserved");
  item->url = heap_text("http://127.0.0.1/file.bin");
  item->save_path = heap_text("/tmp/save/");
  item->proxy = heap_text("127.0.0.1:3128");
  static char cookie[] = "Cookie: a=1\r\n";
  item->extra_header = cookie;  // the client's own; copied as a plain value
  item->div_status = heap_array<std::int32_t>({2, 3, 150});
  item->div_retries = heap_array<std::int32_t>({5, 1, 4});
  item->div_stop = heap_array<std::int32_t>({0, 1, 1, 1});
  item->conn.sockets = heap_array<std::int32_t>({-1, -1, -1});
  item->conn.host = heap_text("127.0.0.1");
  item->conn.port = 80;
  item->request_path = heap_text("/file.bin");
  item->disk.file = 42;
  item->disk.count_ref = &item->div_count;
  item->disk.file_size = 3000;
  item->disk.range_len = heap_array<std::uint32_t>({1000, 1000, 1000});
  item->disk.range_done = heap_array<std::uint32_t>({1000, 10, 700});
  item->disk.buf_ptr = heap_array<char*>({nullptr, nullptr, nullptr});
  item->disk.buf_fill = heap_array<std::int32_t>({0, 0, 5});
  item->disk.buf_block = static_cast<char*>(GetMem(24576));
  item->disk.file_name = heap_text("/tmp/save/file.bin");
  return item;
}

void release(ItemData*& item) {
  free_itemdata(item);
  FreeMem(&item);
}

TEST(CopyItemData, TheCopyOwnsEverythingAndOutlivesItsSource) {
  ItemData* src = stopped_record();
  ItemData* copy = copy_itemdata(nullptr, src);
  ASSERT_NE(copy, nullptr);

  // Engine-made connection state does not travel with a saved copy.
  EXPECT_EQ(copy->conn.host, nullptr);
  EXPECT_EQ(copy->request_path, nullptr);
  EXPECT_EQ(copy->conn.host_entry, nullptr);
  EXPECT_EQ(copy->disk.buf_block, nullptr);
  EXPECT_EQ(copy->disk.count_ref, &copy->div_count);
  ASSERT_NE(copy->disk.buf_ptr, nullptr);
  EXPECT_NE(copy->disk.buf_ptr, src->disk.buf_ptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(copy->disk.buf_ptr[i], nullptr);
  // Plain values.
  EXPECT_EQ(copy->extra_header, src->extra_header);
  EXPECT_EQ(copy->disk.file, 42);
  EXPECT_EQ(copy->state, TVN_STATE_FAILED);
  EXPECT_EQ(copy->disk.file_size, 3000u);

  // Every pointer of the source is about to go away.
  release(src);
  EXPECT_EQ(src, nullptr);

  EXPECT_STREQ(copy->referer, "http://127.0.0.1/ref");
  EXPECT_STREQ(copy->user_agent, "Agent/1");
  EXPECT_STREQ(copy->reserved_text, "reserved");
  EXPECT_STREQ(copy->url, "http://127.0.0.1/file.bin");
  EXPECT_STREQ(copy->save_path, "/tmp/save/");
  EXPECT_STREQ(copy->proxy, "127.0.0.1:3128");
  EXPECT_STREQ(copy->disk.file_name, "/tmp/save/file.bin");
  EXPECT_EQ(copy->div_status[2], 150);
  EXPECT_EQ(copy->div_retries[1], 1);
  EXPECT_EQ(copy->div_stop[3], 1) << "div_count + 1 stop elements";
  EXPECT_EQ(copy->conn.sockets[0], -1);
  EXPECT_EQ(copy->disk.range_len[2], 1000u);
  EXPECT_EQ(copy->disk.range_done[1], 10u);
  EXPECT_EQ(copy->disk.buf_fill[2], 5);

  // A redirect may rewrite the url in place with a URL of up to 2047 bytes.
  EXPECT_GE(malloc_usable_size(copy->url), static_cast<std::size_t>(TVN_URL_CAPACITY));
  std::memset(copy->url, 'u', TVN_URL_CAPACITY - 1);
  copy->url[TVN_URL_CAPACITY - 1] = '\0';

  release(copy);
}

TEST(CopyItemData, CopyingIntoARecordReleasesWhatItHeld) {
  ItemData* first = stopped_record();
  ItemData* second = stopped_record();
  second->div_count = 1;
  ItemData* dst = copy_itemdata(nullptr, first);
  ASSERT_NE(dst, nullptr);
  // The old strings and arrays of dst are freed first (ASan's leak check
  // sees them otherwise), then it becomes a copy of `second`.
  ASSERT_EQ(copy_itemdata(dst, second), dst);
  EXPECT_EQ(dst->div_count, 1);
  EXPECT_EQ(dst->disk.count_ref, &dst->div_count);
  EXPECT_NE(dst->url, second->url);
  release(first);
  release(second);
  release(dst);
}

TEST(CopyItemData, RecordsWithoutArraysCopyToo) {
  ItemData plain{};
  plain.div_count = 0;
  char url[] = "http://127.0.0.1/";
  plain.url = url;
  ItemData* copy = copy_itemdata(nullptr, &plain);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->div_status, nullptr);
  EXPECT_EQ(copy->disk.range_len, nullptr);
  EXPECT_EQ(copy->disk.buf_ptr, nullptr);
  EXPECT_STREQ(copy->url, url);
  EXPECT_EQ(copy_itemdata(nullptr, nullptr), nullptr);
  release(copy);
}

TEST(SharedHeap, GetMemIsZeroedAndFreeMemNullsThePointer) {
  auto* p = static_cast<unsigned char*>(GetMem(64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(p[i], 0);
  FreeMem(&p);
  EXPECT_EQ(p, nullptr);
  FreeMem(&p);       // freeing a null pointer again is harmless
  FreeMem(nullptr);  // as is a null address
  void* empty = GetMem(0);
  EXPECT_NE(empty, nullptr) << "our choice: a zero-size request still gives a block";
  FreeMem(&empty);
  EXPECT_EQ(free_itemdata(nullptr), -1);
}

}  // namespace
