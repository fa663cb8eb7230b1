// The disk layer: file names from save path and URL, opening without
// truncation, the empty-file delete at close, division ranges and writes at
// their place, also past 4 GiB. (Copies of saved records: every resume,
// here through KeptItem and in tests/core through the slot table.)
#include "engine/disk_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "engine/ranges.h"
#include "tests/support/sparse_file.h"
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
      {"/d/", "http://h/" + too_long, nullptr},             // our choice: refused, never cut
  };
  for (const auto& [save_path, url, expected] : cases) {
    char out[TVN_PATH_CAPACITY] = "x";
    EXPECT_EQ(DiskIO_MakeFileName(save_path, url.c_str(), out), expected ? 0 : -1) << url;
    EXPECT_STREQ(out, expected ? expected : "") << url;
  }
}

// Only an empty file that the open created goes at close, and not for a finished item.
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

// 5 GiB in 5 divisions puts division 4 at exactly 4 GiB.
TEST(Ranges, LengthsAndStartsAroundFourGiB) {
  constexpr std::uint64_t G = test::kGiB;
  const struct {
    std::uint64_t size;
    std::vector<std::uint64_t> len;
  } cases[] = {{4 * G - 1, {4 * G - 1}},
               {4 * G, {1431655766, 1431655765, 1431655765}},
               {4 * G + 1, {2 * G + 1, 2 * G}},
               {5 * G, {G, G, G, G, G}},
               {10 * G + 3, {5 * G + 2, 5 * G + 1}}};
  for (const auto& c : cases) {
    const int n = static_cast<int>(c.len.size());
    std::vector<std::uint64_t> len(c.len.size());
    for (int i = 0; i < n; ++i) len[i] = range_length(c.size, n, i);
    EXPECT_EQ(len, c.len) << c.size;
    EXPECT_EQ(division_start(len.data(), n), c.size) << c.size;
  }
}

// An item of n divisions with its buffer, its sizes in both forms and its
// file, as the download thread holds them, without the threads.
class DivisionWriter : public testing::Test {
 protected:
  void SetUp() override {
    ctx_.callback = [](EngineContext*, int code, int, int, void* data) {
      if (code == TVN_NOTICE_MESSAGE) messages_.push_back(static_cast<const char*>(data));
      return 0;
    };
    messages_.clear();
  }
  void TearDown() override {
    DiskIO_CloseHandle(&item_.disk);
    release_disk_arrays(item_.disk);
  }
  void open(const std::vector<std::uint64_t>& len, const std::vector<std::uint64_t>& done) {
    const int n = static_cast<int>(len.size());
    item_.div_count = n;
    item_.disk.count_ref = &item_.div_count;
    ASSERT_EQ(allocate_disk_arrays(item_.disk, n), 0);
    ASSERT_EQ(cut_buffer(item_, static_cast<std::uint32_t>(n) * 8192), 0);
    // The engine heap's blocks, as a resuming client gives them: the engine frees them.
    WideSizes& wide = engine_.wide(0);
    wide.range_len = static_cast<std::uint64_t*>(GetMem(n * sizeof(std::uint64_t)));
    wide.range_done = static_cast<std::uint64_t*>(GetMem(n * sizeof(std::uint64_t)));
    for (int d = 0; d < n; ++d) {
      sizes().set_len(d, len[d]);
      sizes().set_done(d, done[d]);
    }
    ASSERT_EQ(DiskIO_OpenFile(&item_.disk, path_.c_str()), 0);
  }
  ItemSizes sizes() { return engine_.sizes(0, item_); }
  int write(int i, const std::string& bytes) {
    std::memcpy(item_.disk.buf_ptr[i] + item_.disk.buf_fill[i], bytes.data(), bytes.size());
    item_.disk.buf_fill[i] += static_cast<std::int32_t>(bytes.size());
    return write_division(engine_, 0, item_, i);
  }

  test::TempDir dir_;
  const std::string path_ = dir_ / "out.bin";
  static inline std::vector<std::string> messages_;  // the texts of notice 401
  EngineContext ctx_{};
  EngineState engine_{&ctx_};
  ItemData item_{};
};

// A full disk keeps the bytes in the share and is said once, not on every pass.
TEST_F(DivisionWriter, WritesAtItsPlaceAndReportsAFullDiskOnce) {
  open({10, 10, 10, 0}, {0, 4, 10, 25});
  EXPECT_EQ(write(0, "0123"), 0);
  EXPECT_EQ(write(1, "ABCDEFGHIJ"), 0);  // six bytes left in its range: the rest is dropped
  EXPECT_EQ(write(2, "zz"), 0);          // a complete range takes nothing more
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, "/dev/full"));
  EXPECT_EQ(write(3, "X"), kWriteRefused);
  EXPECT_EQ(write(3, "Y"), kWriteRefused);
  EXPECT_EQ(messages_, std::vector<std::string>{"disk full: " + path_});
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, path_));
  EXPECT_EQ(write(3, ""), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&item_.disk), 0);
  const std::string zeros(35, '\0');
  EXPECT_EQ(test::read_file(path_), "0123" + zeros.substr(0, 10) + "ABCDEF" + zeros + "XY");
}

// Past 4 GiB the bytes land at whole offsets while the 32-bit fields saturate.
TEST_F(DivisionWriter, PastFourGiBAtWholeOffsetsWithTheFieldsSaturated) {
  constexpr std::uint64_t k4G = test::kFourGiB;
  open({k4G - 2, k4G + 3, 0}, {k4G - 4, k4G, 0});
  EXPECT_EQ(write(0, "xyz"), 0);    // two bytes left: its range ends just below 4 GiB
  EXPECT_EQ(write(1, "ABCDE"), 0);  // three left, from 2^33 - 2 on
  EXPECT_EQ(write(2, "Q"), 0);      // open end, from 2^33 + 1
  EXPECT_EQ(test::read_at(path_, k4G - 4, 2), "xy");
  EXPECT_EQ(test::read_at(path_, 2 * k4G - 2, 4), "ABCQ");
  EXPECT_EQ(test::file_size_of(path_), 2 * k4G + 2);
  using Whole = std::vector<std::uint64_t>;
  using Fields = std::vector<std::uint32_t>;
  EXPECT_EQ((Whole{sizes().done(0), sizes().done(1), sizes().done(2)}),
            (Whole{k4G - 2, k4G + 3, 1}));
  EXPECT_EQ(Fields(item_.disk.range_done, item_.disk.range_done + 3),
            (Fields{0xFFFFFFFEu, TVN_SIZE_WIDE, 1}));
  EXPECT_EQ(Fields(item_.disk.range_len, item_.disk.range_len + 3),
            (Fields{0xFFFFFFFEu, TVN_SIZE_WIDE, 0}));
}

}  // namespace
}  // namespace torvane::engine
