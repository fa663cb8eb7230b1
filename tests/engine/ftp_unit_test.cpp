// The complete-reply test of the FTP layer, reached through the internal
// library. The thread's life and the login go through the exports in
// ftp_login_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "engine/ftp_layer.h"

namespace {

TEST(FtpReply, CompleteOnlyAtAFinalLine) {
  const std::pair<const char*, bool> cases[] = {
      {"220 ready\r\n", true},
      {"220-Welcome\r\n220-more\r\n", false},
      {"220-Welcome\r\n220-more\r\n220 ready\r\n", true},
      {"220-Welcome\n\n220 bare LF, blank line", true},
      {"2x0 not a code", false},
      {"text 220 inside a line", false},
  };
  for (const auto& [text, complete] : cases)
    EXPECT_EQ(torvane::engine::ftp_reply_complete(text, std::strlen(text)), complete) << text;
  // Only the filled part counts; the stale bytes after it would complete it.
  EXPECT_FALSE(torvane::engine::ftp_reply_complete("220-partial\r\n220 stale", 16));
}

}  // namespace
