// The disk layer: file names from save path and URL, folders made on the
// way, opening without truncation, the empty-file delete at close, division
// arithmetic, and division writes at absolute positions that never pass the
// range. A wrong sum here writes bytes at the wrong place in a file.
#include "engine/disk_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "engine/ranges.h"
#include "tests/support/test_files.h"

namespace torvane::engine {
namespace {

TEST(DiskFileName, FolderOrFullPathWithTheUrlsLastPart) {
  const std::string too_long(TVN_PATH_CAPACITY, 'n');
  struct Case {
    const char* save_path;
    std::string url;
    const char* expected;  // nullptr: refused
  } cases[] = {
      {"/d/", "http://h/a/", "/d/index.html"},
      {"/d/", "http://h/a/f.bin?x=1&y=2", "/d/f.bin"},
      {"/d/", "http://h/a/f.bin?x=1?y", "/d/f.bin?x=1"},    // cut at the last question mark
      {"/d/", "http://h/?q=1", "/d/"},                      // only a query: the folder itself
      {"/d/f.out", "http://h/whatever.bin?x", "/d/f.out"},  // a full path is used as it is
      {"/what?/", "http://h/f.bin", "/what?/f.bin"},        // a '?' in the folder stays
      {"/d/", "http://h/" + too_long, nullptr},             // our choice: refused, never cut
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    char out[TVN_PATH_CAPACITY] = "x";
    EXPECT_EQ(DiskIO_MakeFileName(c.save_path, c.url.c_str(), out), c.expected ? 0 : -1);
    EXPECT_STREQ(out, c.expected ? c.expected : "");
  }
}

TEST(DiskFiles, CheckOpenAndClose) {
  test::TempDir dir;
  DiskIO disk{};
  EXPECT_EQ(DiskIO_CheckFile((dir / "missing").c_str()), 0);
  EXPECT_EQ(DiskIO_CheckFile(dir.path().c_str()), 2);
  const std::string deep = dir / "a/b/file.bin";
  ASSERT_EQ(DiskIO_OpenFile(&disk, deep.c_str()), 0);
  EXPECT_STREQ(disk.file_name, deep.c_str());
  ASSERT_EQ(DiskIO_CloseHandle(&disk), 0);
  EXPECT_FALSE(test::path_exists(deep)) << "nothing was written: the empty file is deleted";
  EXPECT_EQ(DiskIO_CloseHandle(&disk), -1) << "nothing open any more";

  ASSERT_TRUE(test::write_file(dir / "kept", "hello"));
  ASSERT_EQ(DiskIO_OpenFile(&disk, (dir / "kept").c_str()), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&disk), 0);
  EXPECT_EQ(test::read_file(dir / "kept"), "hello") << "opened without truncation, not deleted";
  EXPECT_EQ(DiskIO_CheckFile((dir / "kept").c_str()), 1);
  ASSERT_EQ(DiskIO_OpenFile(&disk, "/dev/null"), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&disk), 0);
  EXPECT_EQ(DiskIO_CheckFile("/dev/null"), 1) << "closing a device never deletes it";

  EXPECT_EQ(DiskIO_OpenFile(&disk, dir.path().c_str()), -1) << "a folder is not a file";
  EXPECT_EQ(DiskIO_OpenFile(&disk, (dir / "kept/x/f.bin").c_str()), -1)
      << "a file where a folder should be";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2)
      << "nothing created";
  EXPECT_EQ(disk.file, 0);
}

TEST(Ranges, FileRangesBufferRaiseAndShares) {
  std::uint32_t len[3], top[2];
  compute_ranges(1000, 3, len);
  EXPECT_EQ(std::vector<std::uint32_t>(len, len + 3), (std::vector<std::uint32_t>{334, 333, 333}));
  EXPECT_EQ(division_start(len, 2), 667u);
  compute_ranges(0xFFFFFFFFu, 2, top);
  EXPECT_EQ(top[0], 0x80000000u) << "no overflow at the top of the range";
  const std::uint32_t big[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 1};
  EXPECT_EQ(division_start(big, 2), 0x1FFFFFFFEull) << "positions past 4 GiB";
  EXPECT_EQ(raised_buffer_size(10000, 4), 32768);
  std::vector<char> block(24577);
  char* ptr[3] = {};
  cut_shares(block.data(), 24577, 3, ptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(share_capacity(ptr, 3, 24577, i), i == 0 ? 8193u : 8192u);
  EXPECT_EQ(ptr[2] + 8192, block.data() + block.size()) << "the shares cover the block";
}

// One item's disk state over a real file, with the texts of notice 401.
class DivisionWriter : public testing::Test {
 protected:
  void SetUp() override { ctx_.callback = &DivisionWriter::record; }
  void TearDown() override {
    DiskIO_CloseHandle(&item_.disk);
    release_disk_arrays(item_.disk);
    messages_.clear();
  }
  void prepare(std::vector<std::uint32_t> len, std::vector<std::uint32_t> done) {
    item_.div_count = static_cast<int>(len.size());
    item_.disk.count_ref = &item_.div_count;
    ASSERT_EQ(allocate_disk_arrays(item_.disk, item_.div_count), 0);
    ASSERT_EQ(cut_buffer(item_, static_cast<std::uint32_t>(item_.div_count) * 8192), 0);
    std::copy(len.begin(), len.end(), item_.disk.range_len);
    std::copy(done.begin(), done.end(), item_.disk.range_done);
    ASSERT_EQ(DiskIO_OpenFile(&item_.disk, path_.c_str()), 0);
  }
  int write(int i, const std::string& bytes = "") {
    std::memcpy(item_.disk.buf_ptr[i] + item_.disk.buf_fill[i], bytes.data(), bytes.size());
    item_.disk.buf_fill[i] += static_cast<std::int32_t>(bytes.size());
    return write_division(&ctx_, 0, item_, i);
  }
  static int record(EngineContext*, int code, int, int, void* data) {
    if (code == TVN_NOTICE_MESSAGE) messages_.push_back(static_cast<const char*>(data));
    return 0;
  }

  static inline std::vector<std::string> messages_;
  test::TempDir dir_;
  std::string path_ = dir_ / "out.bin";
  EngineContext ctx_{};
  ItemData item_{};
};

// Each division writes at its own place and never past its range; an
// open-ended range writes everything, past the file's end.
TEST_F(DivisionWriter, WritesAtTheDivisionsPlaceAndNeverPastItsRange) {
  prepare({10, 10, 10, 0}, {0, 4, 10, 25});
  EXPECT_EQ(write(0, "0123"), 0);
  // Six bytes are left of division 1's range: the other four belong to the
  // next division and are dropped, not written over it.
  EXPECT_EQ(write(1, "ABCDEFGHIJ"), 0);
  EXPECT_EQ(item_.disk.range_done[1], 10u);
  EXPECT_EQ(write(2, "zz"), 0);  // a complete range takes nothing more
  EXPECT_EQ(item_.disk.buf_fill[2], 0);
  EXPECT_EQ(write(3, "XY"), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&item_.disk), 0);
  const std::string zeros(35, '\0');
  EXPECT_EQ(test::read_file(path_), "0123" + zeros.substr(0, 10) + "ABCDEF" + zeros + "XY");
}

// A full disk keeps the data waiting for a later pass and tells the user
// once, not on every pass, until a write to the file succeeds again.
TEST_F(DivisionWriter, FailedWritesKeepTheDataAndAreReportedOncePerRun) {
  prepare({100, 100}, {0, 0});
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, "/dev/full"));
  EXPECT_EQ(write(1, "pay"), -1);
  EXPECT_EQ(write(1, "load"), -1);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_FALSE(messages_[0].empty());
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, path_));
  EXPECT_EQ(write(1), 0);
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, "/dev/full"));
  EXPECT_EQ(write(0, "again"), -1);
  EXPECT_EQ(messages_.size(), 2u) << "a new run of failures is reported again";
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, path_));
  EXPECT_EQ(write(0), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&item_.disk), 0);
  EXPECT_EQ(test::read_file(path_), "again" + std::string(95, '\0') + "payload");
}

}  // namespace
}  // namespace torvane::engine
