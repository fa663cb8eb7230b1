// The real peers start from the configurations the rig writes and answer
// the way the engine's end-to-end tests expect: ranged GETs from nginx, and
// absolute-URL requests forwarded by tinyproxy.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

std::string exchange(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{3, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  std::string out;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return out;
}

std::string body_of(const std::string& answer) {
  const std::size_t blank = answer.find("\r\n\r\n");
  return blank == std::string::npos ? std::string() : answer.substr(blank + 4);
}

#define SKIP_OR_FAIL_WITHOUT(program, name)                                         \
  if ((program).empty()) {                                                          \
    if (peers_required()) FAIL() << name << " is required but not installed";       \
    GTEST_SKIP() << name << " is not installed";                                    \
  }

TEST(RealPeers, NginxServesRangesAndTinyproxyForwards) {
  SKIP_OR_FAIL_WITHOUT(NginxServer::program(), "nginx");
  TempDir dir;
  ASSERT_TRUE(write_file(dir / "file.bin", pattern_bytes(10000, 7)));
  NginxServer nginx(dir.path(), dir.path());
  ASSERT_TRUE(nginx.ok()) << nginx.error();

  const std::string ranged =
      exchange(nginx.port(), "GET /file.bin HTTP/1.0\r\nRange: bytes=9000-\r\n\r\n");
  EXPECT_EQ(ranged.rfind("HTTP/1.1 206", 0), 0u) << ranged.substr(0, 200);
  EXPECT_NE(ranged.find("Content-Range: bytes 9000-9999/10000"), std::string::npos);
  EXPECT_EQ(body_of(ranged), pattern_bytes(10000, 7).substr(9000));

  SKIP_OR_FAIL_WITHOUT(TinyProxy::program(), "tinyproxy");
  TinyProxy proxy(dir.path());
  ASSERT_TRUE(proxy.ok()) << proxy.error();
  const std::string forwarded = exchange(
      proxy.port(), "GET " + nginx.url("/file.bin") + " HTTP/1.0\r\nHost: 127.0.0.1:" +
                        std::to_string(nginx.port()) + "\r\n\r\n");
  EXPECT_EQ(body_of(forwarded), pattern_bytes(10000, 7)) << forwarded.substr(0, 300);
}

}  // namespace
}  // namespace torvane::test
