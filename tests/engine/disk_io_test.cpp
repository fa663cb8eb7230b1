// The disk layer: file names from save path and URL, folders made on the
// way, opening without truncation, division writes at absolute positions
// that never pass the range, and the empty-file delete at close.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/disk_io.h"
#include "tests/support/test_files.h"
#include "torvane/torvane.h"

namespace torvane::engine {
namespace {

using test::path_exists;
using test::read_file;
using test::TempDir;
using test::write_file;

TEST(DiskFileName, FolderOrFullPathWithTheUrlsLastPart) {
  struct Case {
    const char* save_path;
    const char* url;
    const char* expected;
  } cases[] = {
      {"/d/", "http://h/", "/d/index.html"},
      {"/d/", "http://h/a/b/", "/d/index.html"},
      {"/d/", "http://h/a/file.bin", "/d/file.bin"},
      {"/d/", "http://h/a/file.bin?x=1&y=2", "/d/file.bin"},
      {"/d/", "http://h/a/f.bin?x=1?y", "/d/f.bin?x=1"},   // cut at the last question mark
      {"/d/", "http://h/?q=1", "/d/"},                       // only a query: the folder itself
      {"/d/f.out", "http://h/whatever.bin?x", "/d/f.out"},  // a full path is used as it is
      {"/what?/", "http://h/file.bin", "/what?/file.bin"},  // a '?' in the folder stays
      {"/d/", "http://h/\xe6\x97\xa5\xe6\x9c\xac.txt", "/d/\xe6\x97\xa5\xe6\x9c\xac.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.save_path << " + " << c.url);
    char out[TVN_PATH_CAPACITY];
    ASSERT_EQ(DiskIO_MakeFileName(c.save_path, c.url, out), 0);
    EXPECT_STREQ(out, c.expected);
  }
  char out[TVN_PATH_CAPACITY] = "x";
  EXPECT_EQ(DiskIO_MakeFileName(nullptr, "http://h/f", out), -1);
  EXPECT_EQ(DiskIO_MakeFileName("/d/", nullptr, out), -1);
  EXPECT_EQ(DiskIO_MakeFileName("/d/", "http://h/f", nullptr), -1);
}

// Our choice for names that do not fit the 2048-byte buffer: refused, never
// cut (a cut name would write some other file).
TEST(DiskFileName, NamesLongerThanTheBufferAreRefused) {
  char out[TVN_PATH_CAPACITY] = "untouched";
  const std::string long_name(TVN_PATH_CAPACITY, 'n');
  EXPECT_EQ(DiskIO_MakeFileName("/d/", ("http://h/" + long_name).c_str(), out), -1);
  EXPECT_STREQ(out, "");
  const std::string fits(TVN_PATH_CAPACITY - 4, 'n');
  EXPECT_EQ(DiskIO_MakeFileName("/d/", ("http://h/" + fits).c_str(), out), 0);
  EXPECT_EQ(std::strlen(out), TVN_PATH_CAPACITY - 1u);
}

TEST(DiskFiles, CheckTellsNothingFileAndFolderApart) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir / "f", "x"));
  EXPECT_EQ(DiskIO_CheckFile((dir / "missing").c_str()), 0);
  EXPECT_EQ(DiskIO_CheckFile((dir / "f").c_str()), 1);
  EXPECT_EQ(DiskIO_CheckFile(dir.path().c_str()), 2);
  EXPECT_EQ(DiskIO_CheckFile(nullptr), 0);
}

TEST(DiskFiles, OpenMakesMissingFoldersAndKeepsExistingBytes) {
  TempDir dir;
  DiskIO disk{};
  const std::string deep = dir / "a/b/c/file.bin";
  ASSERT_EQ(DiskIO_OpenFile(&disk, deep.c_str()), 0);
  EXPECT_NE(disk.file, 0);
  EXPECT_STREQ(disk.file_name, deep.c_str());
  EXPECT_TRUE(test::is_folder(dir / "a/b/c"));
  ASSERT_EQ(DiskIO_CloseHandle(&disk), 0);
  EXPECT_FALSE(path_exists(deep)) << "nothing was written: the empty file is deleted";
  EXPECT_EQ(disk.file, 0);
  EXPECT_EQ(disk.file_name, nullptr);
  EXPECT_EQ(DiskIO_CloseHandle(&disk), -1) << "nothing open any more";

  const std::string kept = dir / "kept.bin";
  ASSERT_TRUE(write_file(kept, "hello world"));
  ASSERT_EQ(DiskIO_OpenFile(&disk, kept.c_str()), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&disk), 0);
  EXPECT_EQ(read_file(kept), "hello world") << "opened without truncation, not deleted";

  EXPECT_EQ(DiskIO_OpenFile(&disk, ""), -1);
  EXPECT_EQ(DiskIO_OpenFile(&disk, nullptr), -1);
  EXPECT_EQ(DiskIO_OpenFile(&disk, dir.path().c_str()), -1) << "a folder is not a file";
  EXPECT_EQ(disk.file, 0);
}

TEST(DiskFiles, ClosingADeviceNeverDeletesIt) {
  DiskIO disk{};
  ASSERT_EQ(DiskIO_OpenFile(&disk, "/dev/null"), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&disk), 0);
  EXPECT_EQ(DiskIO_CheckFile("/dev/null"), 1);
}

TEST(DiskFiles, AFileWhereAFolderShouldBeFailsAndCreatesNothing) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir / "blocker", "mine"));
  DiskIO disk{};
  EXPECT_EQ(DiskIO_OpenFile(&disk, (dir / "blocker/x/y/f.bin").c_str()), -1);
  EXPECT_EQ(disk.file, 0);
  EXPECT_EQ(read_file(dir / "blocker"), "mine");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

// One item's disk state with n divisions over a real file.
class DivisionWriter : public testing::Test {
 protected:
  void SetUp() override { ctx_.callback = &DivisionWriter::record; }
  void TearDown() override {
    if (item_.disk.file != 0) DiskIO_CloseHandle(&item_.disk);
    release_disk_arrays(item_.disk);
    messages().clear();
  }

  void prepare(int n, std::uint32_t buffer, std::vector<std::uint32_t> len, std::vector<std::uint32_t> done) {
    item_.div_count = n;
    item_.disk.count_ref = &item_.div_count;
    ASSERT_EQ(allocate_disk_arrays(item_.disk, n), 0);
    ASSERT_EQ(cut_buffer(item_, buffer), 0);
    for (int i = 0; i < n; ++i) {
      item_.disk.range_len[i] = len[static_cast<std::size_t>(i)];
      item_.disk.range_done[i] = done[static_cast<std::size_t>(i)];
    }
  }
  void put(int i, const std::string& bytes) {
    std::memcpy(item_.disk.buf_ptr[i], bytes.data(), bytes.size());
    item_.disk.buf_fill[i] = static_cast<std::int32_t>(bytes.size());
  }
  int write(int i) { return write_division(&ctx_, 0, item_, i); }

  static std::vector<std::string>& messages() {
    static std::vector<std::string> list;
    return list;
  }
  static int record(EngineContext*, int code, int, int, void* data) {
    if (code == TVN_NOTICE_MESSAGE) messages().push_back(static_cast<const char*>(data));
    return 0;
  }

  TempDir dir_;
  EngineContext ctx_{};
  ItemData item_{};
};

TEST_F(DivisionWriter, WritesAtTheDivisionsPlaceAndNeverPastItsRange) {
  prepare(3, 3 * 8192, {10, 10, 10}, {0, 4, 10});
  const std::string path = dir_ / "out.bin";
  ASSERT_EQ(DiskIO_OpenFile(&item_.disk, path.c_str()), 0);

  put(0, "0123");
  EXPECT_EQ(write(0), 0);
  EXPECT_EQ(item_.disk.range_done[0], 4u);
  EXPECT_EQ(item_.disk.buf_fill[0], 0);

  // Six bytes are left of division 1's range: the other four belong to the
  // next division and are dropped, not written over it.
  put(1, "ABCDEFGHIJ");
  EXPECT_EQ(write(1), 0);
  EXPECT_EQ(item_.disk.range_done[1], 10u);
  EXPECT_EQ(item_.disk.buf_fill[1], 0);

  put(2, "zz");  // a complete range takes nothing more
  EXPECT_EQ(write(2), 0);
  EXPECT_EQ(item_.disk.buf_fill[2], 0);

  ASSERT_EQ(DiskIO_CloseHandle(&item_.disk), 0);
  EXPECT_EQ(read_file(path), std::string("0123") + std::string(10, '\0') + "ABCDEF");
}

TEST_F(DivisionWriter, OpenEndedRangeWritesEverythingAndExtendsTheFile) {
  prepare(1, 8192, {0}, {11});
  const std::string path = dir_ / "grow.bin";
  ASSERT_TRUE(write_file(path, "hello world"));
  ASSERT_EQ(DiskIO_OpenFile(&item_.disk, path.c_str()), 0);
  put(0, "!!");
  EXPECT_EQ(write(0), 0);
  item_.disk.range_done[0] = 20;  // a later piece past the current end
  put(0, "XY");
  EXPECT_EQ(write(0), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&item_.disk), 0);
  EXPECT_EQ(read_file(path), "hello world!!" + std::string(7, '\0') + "XY");
}

TEST_F(DivisionWriter, NothingIsWrittenWithoutFileOrBuffer) {
  prepare(1, 8192, {0}, {0});
  put(0, "abc");
  EXPECT_EQ(write(0), -1) << "no file: a memory fetch never writes";
  EXPECT_EQ(item_.disk.buf_fill[0], 3);
  item_.disk.buf_fill[0] = 0;
  ASSERT_EQ(DiskIO_OpenFile(&item_.disk, (dir_ / "f").c_str()), 0);
  EXPECT_EQ(write(0), 0) << "nothing waiting";
}

// A full disk keeps the data waiting for a later pass and tells the user
// once, not on every pass, until a write to the file succeeds again.
TEST_F(DivisionWriter, FailedWritesKeepTheDataAndAreReportedOncePerRun) {
  prepare(2, 2 * 8192, {100, 100}, {0, 0});
  const std::string path = dir_ / "full.bin";
  ASSERT_EQ(DiskIO_OpenFile(&item_.disk, path.c_str()), 0);
  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, "/dev/full"));

  put(1, "payload");
  EXPECT_EQ(write(1), -1);
  EXPECT_EQ(write(1), -1);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_FALSE(messages()[0].empty());
  EXPECT_EQ(item_.disk.buf_fill[1], 7);
  EXPECT_EQ(std::string(item_.disk.buf_ptr[1], 7), "payload");
  EXPECT_EQ(item_.disk.range_done[1], 0u);

  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, path));
  EXPECT_EQ(write(1), 0);
  EXPECT_EQ(item_.disk.range_done[1], 7u);

  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, "/dev/full"));
  put(0, "again");
  EXPECT_EQ(write(0), -1);
  EXPECT_EQ(messages().size(), 2u) << "a new run of failures is reported again";

  ASSERT_TRUE(test::redirect_descriptor(item_.disk.file, path));
  EXPECT_EQ(write(0), 0);
  ASSERT_EQ(DiskIO_CloseHandle(&item_.disk), 0);
  const auto content = read_file(path);
  ASSERT_TRUE(content.has_value());
  EXPECT_EQ(content->substr(0, 5), "again");
  EXPECT_EQ(content->substr(100, 7), "payload");
}

}  // namespace
}  // namespace torvane::engine
