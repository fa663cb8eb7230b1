// Division arithmetic: byte ranges of the file, the buffer shares and the
// buffer raise. A wrong sum here writes bytes at the wrong place in a file.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/ranges.h"

namespace torvane::engine {
namespace {

TEST(Ranges, SplitTheFileWithTheFirstDivisionsOneByteLonger) {
  struct Case {
    std::uint32_t size;
    int n;
    std::vector<std::uint32_t> expected;
  } cases[] = {
      {1000, 3, {334, 333, 333}},
      {1000, 1, {1000}},
      {10, 4, {3, 3, 2, 2}},
      {0, 3, {0, 0, 0}},                  // size unknown: every range is open-ended
      {3, 3, {1, 1, 1}},
      {0xFFFFFFFFu, 2, {0x80000000u, 0x7FFFFFFFu}},  // no overflow at the top of the range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " in " << c.n);
    std::vector<std::uint32_t> len(c.expected.size(), 99);
    compute_ranges(c.size, c.n, len.data());
    EXPECT_EQ(len, c.expected);
    EXPECT_EQ(std::accumulate(len.begin(), len.end(), std::uint64_t{0}), c.size);
    EXPECT_LE(len.back(), len.front());
  }
}

TEST(Ranges, DivisionStartsAreTheSumsOfTheRangesBefore) {
  const std::uint32_t len[] = {334, 333, 333};
  EXPECT_EQ(division_start(len, 0), 0u);
  EXPECT_EQ(division_start(len, 1), 334u);
  EXPECT_EQ(division_start(len, 2), 667u);
  // Sums past 4 GiB are kept whole (the position is 64-bit).
  const std::uint32_t big[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 1};
  EXPECT_EQ(division_start(big, 2), 0x1FFFFFFFEull);
}

TEST(Ranges, BufferIsRaisedToAtLeast8192BytesPerDivision) {
  struct Case {
    std::int32_t size;
    int n;
    std::int32_t expected;
  } cases[] = {
      {10000, 4, 32768}, {40000, 1, 40000}, {0, 1, 8192}, {8191, 1, 8192},
      {120000, 3, 120000}, {1, 0, 8192},  // a count of 0 is taken as 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " for " << c.n);
    EXPECT_EQ(raised_buffer_size(c.size, c.n), c.expected);
  }
}

TEST(Ranges, SharesFollowTheSameRuleAndCoverTheBlock) {
  struct Case {
    std::uint32_t size;
    int n;
    std::vector<std::uint32_t> capacity;
  } cases[] = {
      {24577, 3, {8193, 8192, 8192}},
      {24578, 3, {8193, 8193, 8192}},
      {40000, 1, {40000}},
      {32768, 4, {8192, 8192, 8192, 8192}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " in " << c.n);
    std::vector<char> block(c.size);
    std::vector<char*> ptr(static_cast<std::size_t>(c.n), nullptr);
    cut_shares(block.data(), c.size, c.n, ptr.data());
    EXPECT_EQ(ptr[0], block.data());
    std::vector<std::uint32_t> got;
    for (int i = 0; i < c.n; ++i) got.push_back(share_capacity(ptr.data(), c.n, c.size, i));
    EXPECT_EQ(got, c.capacity);
    // The last share ends exactly at the end of the block.
    EXPECT_EQ(ptr[static_cast<std::size_t>(c.n) - 1] + got.back(), block.data() + c.size);
  }
}

}  // namespace
}  // namespace torvane::engine
