// An https download stopped part-way, kept in the item list file and
// resumed by a fresh manager and engine, ends byte-identical: the saved
// record brings back each division's progress, and the new engine's TLS
// sessions carry on from there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/core/manager_fixture.h"
#include "tests/support/real_peers.h"
#include "tests/support/test_certs.h"

namespace torvane::test {
namespace {

class HttpsResume : public ManagerTest {};

TEST_F(HttpsResume, AStoppedDownloadResumesInAFreshEngineByteIdentical) {
  if (TestCerts::program().empty() || RealPeer::program("nginx").empty()) {
    if (peers_required()) FAIL() << "openssl and nginx are required";
    GTEST_SKIP() << "openssl or nginx is not installed";
  }
  TempDir served;
  TestCerts certs(served / "certs");
  ASSERT_TRUE(certs.ok()) << certs.error();
  ::setenv("SSL_CERT_FILE", certs.ca_file().c_str(), 1);
  const std::string content = pattern_bytes(4 * 1024 * 1024, 17);
  ASSERT_TRUE(write_file(served / "big.bin", content));
  // Slow enough that a stop comes long before the end; the log's lines
  // say how many body bytes each answer sent.
  const std::string access_log = served / "access.log";
  RealPeer nginx("nginx", served.path(), "limit_rate 1m; access_log " + access_log + ";",
                 {.cert_file = certs.cert_file(TestCerts::kGood),
                  .key_file = certs.key_file(TestCerts::kGood)});
  ASSERT_TRUE(nginx.ok()) << nginx.error();

  auto manager = start(clock_, 2);
  manager->register_item("2", out(), nginx.url("/big.bin"));
  ASSERT_TRUE(wait_until([&] { return saved("big.bin").size() >= 100000; }));
  ASSERT_TRUE(stop_first(*manager));
  EXPECT_NE(saved("big.bin"), content) << "stopped before the end";
  const std::size_t logged = read_file(access_log).value_or("").size();
  restart(manager, clock_, 2);
  manager->scheduler_pass(-1, true);
  ASSERT_TRUE(wait_until([&] { return states(*manager).empty(); }));
  EXPECT_EQ(saved("big.bin"), content);
  // The fresh engine asked for what was missing only: its answers were
  // partial ones, together less than the whole file.
  const std::uint64_t resumed = partial_bytes(read_file(access_log).value_or("").substr(logged));
  EXPECT_GT(resumed, 0u);
  EXPECT_LT(resumed, content.size());
  EXPECT_EQ(manager->end(10000), 0);
  ::unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace torvane::test
