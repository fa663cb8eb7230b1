// torvane-get on a sparse 5 GiB file from nginx: each progress line gives
// the whole size, and a percent and an ETA that agree with the bytes done
// and the speed the same line shows; the file arrives whole. It writes
// 5 GiB: label "large", deleted right after its check.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <regex>

#include "tests/support/real_peers.h"
#include "tests/support/sparse_file.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

// "1.23 GiB" and the like, in bytes.
double bytes_of(const std::string& number, const std::string& unit) {
  const double scale = unit == "GiB" ? kGiB : unit == "MiB" ? 1 << 20 : unit == "KiB" ? 1 << 10 : 1;
  return std::stod(number) * scale;
}

TEST(LargeGet, A5GiBDownloadShowsItsSizePercentSpeedAndEta) {
  if (RealPeer::program("nginx").empty()) {
    if (peers_required()) FAIL() << "nginx is required";
    GTEST_SKIP() << "nginx is not installed";
  }
  TempDir dir;
  for (const char* folder : {"www", "work"}) std::filesystem::create_directories(dir / folder);
  const SparseFile file = sparse_layout(5 * kGiB, 31);
  ASSERT_TRUE(make_sparse_file(dir / "www/disk.img", file));
  // About ten seconds over four connections: a few progress lines.
  RealPeer nginx("nginx", dir / "www", "limit_rate 128m;");
  ASSERT_TRUE(nginx.ok()) << nginx.error();
  const std::string log = dir / "get.log";
  ChildProcess get({"/usr/bin/env", "-u", "http_proxy", "-C", dir / "work", TORVANE_GET_PATH,
                    "--home", dir.path(), "-d", "4", "-o", "out", nginx.url("/disk.img")},
                   log);
  ASSERT_EQ(get.wait_exit(std::chrono::minutes(4)), 0) << read_file(log).value_or("");
  const std::string result = dir / "work/out/disk.img";
  EXPECT_EQ(sparse_difference(result, file), "");
  std::filesystem::remove(result);

  // "<done> / 5.00 GiB <pct>%  <speed>/s  ETA <m:ss>"
  const std::regex figures(
      R"(([0-9.]+) (B|KiB|MiB|GiB) / 5\.00 GiB ([0-9]+)%  ([0-9.]+) (B|KiB|MiB|GiB)/s  ETA ([0-9]+):([0-9]{2}))");
  const std::string text = read_file(log).value_or("");
  int lines = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), figures), end; it != end; ++it) {
    const std::smatch& m = *it;
    const double done = bytes_of(m[1], m[2]), rate = bytes_of(m[4], m[5]);
    const double size = 5.0 * kGiB;
    // Each figure is rounded to three places: within 1% of what it shows.
    EXPECT_NEAR(std::stoi(m[3]), done * 100 / size, 1.5) << m[0];
    if (rate <= 0) continue;
    const double eta = std::stoi(m[6]) * 60 + std::stoi(m[7]);
    EXPECT_NEAR(eta, (size - done) / rate, 0.02 * (size - done) / rate + 1.5) << m[0];
    ++lines;
  }
  EXPECT_GE(lines, 1) << text;
}

}  // namespace
}  // namespace torvane::test
