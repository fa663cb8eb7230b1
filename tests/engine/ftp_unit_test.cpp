// The FTP layer without a network: the complete-reply test and the
// thread's life (init, end, the Stop handshake, table growth
// with notice 201).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "engine/ftp_layer.h"
#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace {

using namespace std::chrono_literals;
using torvane::load_acquire;

TEST(FtpReply, CompleteOnlyAtAFinalLine) {
  struct Case {
    const char* text;
    bool complete;
  };
  const Case cases[] = {
      {"220 ready\r\n", true},
      {"230 ", true},  // the final line has begun; its text may follow later
      {"331-first\r\n", false},
      {"220-Welcome\r\n220-more\r\n", false},
      {"220-Welcome\r\n220-more\r\n220 ready\r\n", true},
      {"220-Welcome\r\n\r\n\n220 ready", true},     // any run of CR/LF
      {"220-Welcome\n220 bare LF ends a line\n", true},
      {"\r\n230 after a stray line end", true},
      {"220-Welcome\r\n22", false},                 // final line not yet in
      {"220-Welcome\r\n220", false},
      {"", false},
      {"22", false},
      {"220", false},
      {"2x0 not a code", false},
      {"text 220 inside a line", false},
      {"220-x\r\n 230 indented", false},
      {"220-x\r\n2300 four digits", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(torvane::engine::ftp_reply_complete(c.text, std::strlen(c.text)), c.complete)
        << '"' << c.text << '"';
}

TEST(FtpReply, ReadsOnlyTheFilledPart) {
  // The buffer beyond the fill holds stale bytes that would complete it.
  const std::string buffer = "220-partial\r\n220 stale";
  EXPECT_FALSE(torvane::engine::ftp_reply_complete(buffer.data(), 15));
  EXPECT_FALSE(torvane::engine::ftp_reply_complete(buffer.data(), 16));
  EXPECT_TRUE(torvane::engine::ftp_reply_complete(buffer.data(), 17));
}

// A context with a recorder behind it; the callback finds the recorder
// because the context is its first member.
struct Layer {
  TvnFtpContext ctx{};
  std::atomic<int> notices{0};
  std::atomic<std::uint32_t> resize_seen{0};  // resize_ctl during the last notice
  std::atomic<int> end_result_in_notice{1};
  std::atomic<bool> end_in_notice{false};

  ~Layer() {
    if (ctx.thread != nullptr) tvnftp_end(&ctx);
  }

  static int on_notice(TvnFtpContext* ctx, int code, int slot, int div, void* data) {
    auto* layer = reinterpret_cast<Layer*>(ctx);
    EXPECT_EQ(code, TVN_NOTICE_RESIZED);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(div, 0);
    EXPECT_EQ(data, nullptr);
    layer->resize_seen.store(load_acquire(ctx->resize_ctl));
    if (layer->end_in_notice.load()) layer->end_result_in_notice.store(tvnftp_end(ctx));
    layer->notices.fetch_add(1);
    return 0;
  }

  int start(int wanted, int wait_ms = 5) {
    ctx.wanted_count = wanted;
    ctx.wait_ms = wait_ms;
    ctx.callback = &Layer::on_notice;
    return tvnftp_init(&ctx, 0);
  }

  bool wait_notices(int n, std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (notices.load() < n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  // Asks for `wanted` records and waits for the notice that answers it.
  bool resize(int wanted) {
    const int before = notices.load();
    torvane::store_release(ctx.wanted_count, wanted);
    torvane::set_bits(ctx.resize_ctl, TVN_RESIZE_REQUEST);
    return wait_notices(before + 1);
  }
};

static_assert(offsetof(Layer, ctx) == 0);

TEST(FtpInit, ModeAboveZeroStartsNothing) {
  Layer layer;
  layer.ctx.wanted_count = 2;
  layer.ctx.callback = &Layer::on_notice;
  layer.ctx.thread_ctl = TVN_CTL_STOP;
  EXPECT_EQ(tvnftp_init(&layer.ctx, 1), -1);
  EXPECT_EQ(tvnftp_init(nullptr, 0), -1);
  EXPECT_EQ(layer.ctx.thread, nullptr);
  EXPECT_EQ(layer.ctx.thread_ctl, static_cast<std::uint32_t>(TVN_CTL_STOP));
  EXPECT_EQ(layer.ctx.resize_ctl, 0u);
  EXPECT_EQ(tvnftp_end(&layer.ctx), -1);  // nothing to end
  EXPECT_EQ(layer.notices.load(), 0);
}

TEST(FtpInit, FirstCycleAllocatesTheTableAndEndFreesIt) {
  Layer layer;
  ASSERT_EQ(layer.start(3), 0);
  ASSERT_TRUE(layer.wait_notices(1));
  EXPECT_EQ(layer.resize_seen.load() & TVN_RESIZE_DONE, static_cast<std::uint32_t>(TVN_RESIZE_DONE));
  EXPECT_EQ(load_acquire(layer.ctx.record_count), 13);
  TvnFtpConnection* records = load_acquire(layer.ctx.records);
  ASSERT_NE(records, nullptr);
  const TvnFtpConnection zero{};
  for (int i = 0; i < 13; ++i)
    EXPECT_EQ(std::memcmp(&records[i], &zero, sizeof zero), 0) << "record " << i;
  EXPECT_EQ(tvnftp_init(&layer.ctx, 0), -1) << "a second thread on the same table";

  EXPECT_EQ(tvnftp_end(&layer.ctx), 0);
  EXPECT_EQ(layer.ctx.thread_ctl & (TVN_CTL_END | TVN_CTL_END_OK | TVN_CTL_END_FAIL),
            static_cast<std::uint32_t>(TVN_CTL_END | TVN_CTL_END_OK));
  EXPECT_EQ(layer.ctx.records, nullptr);
  EXPECT_EQ(layer.ctx.record_count, 0);
  EXPECT_EQ(layer.ctx.resize_ctl, 0u);
  EXPECT_EQ(tvnftp_end(&layer.ctx), -1);

  // The ended context starts again.
  ASSERT_EQ(tvnftp_init(&layer.ctx, 0), 0);
  EXPECT_EQ(layer.ctx.thread_ctl, 0u);
  ASSERT_TRUE(layer.wait_notices(2));
  EXPECT_EQ(load_acquire(layer.ctx.record_count), 13);
}

TEST(FtpResize, GrowsShrinksNeverAndSurvivesAnImpossibleCount) {
  Layer layer;
  ASSERT_EQ(layer.start(0), 0);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(layer.notices.load(), 0) << "no records wanted, no first allocation";

  struct Step {
    int wanted;
    int count_after;
    int wanted_after;
    bool done;
  };
  const Step steps[] = {
      {2, 12, 2, true},
      {20, 30, 20, true},
      {5, 30, 5, true},  // the table never shrinks
      {INT_MAX, 30, 30, false},
  };
  for (const Step& step : steps) {
    ASSERT_TRUE(layer.resize(step.wanted)) << step.wanted;
    EXPECT_EQ(load_acquire(layer.ctx.record_count), step.count_after) << step.wanted;
    EXPECT_EQ(load_acquire(layer.ctx.wanted_count), step.wanted_after) << step.wanted;
    EXPECT_EQ((layer.resize_seen.load() & TVN_RESIZE_DONE) != 0, step.done) << step.wanted;
    EXPECT_EQ(load_acquire(layer.ctx.resize_ctl), 0u) << step.wanted;
  }
}

TEST(FtpStop, HandshakeHoldsTheThreadUntilBothBitsClear) {
  Layer layer;
  ASSERT_EQ(layer.start(1), 0);
  ASSERT_TRUE(layer.wait_notices(1));
  for (int round = 0; round < 3; ++round) {
    torvane::set_bits(layer.ctx.thread_ctl, TVN_CTL_STOP);
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!(load_acquire(layer.ctx.thread_ctl) & TVN_CTL_STOP_OK))
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no StopOK";
    // A paused thread handles no request.
    torvane::store_release(layer.ctx.wanted_count, 40 + round);
    torvane::set_bits(layer.ctx.resize_ctl, TVN_RESIZE_REQUEST);
    std::this_thread::sleep_for(40ms);
    EXPECT_EQ(layer.notices.load(), 1 + round);
    torvane::clear_bits(layer.ctx.thread_ctl, TVN_CTL_STOP | TVN_CTL_STOP_OK);
    ASSERT_TRUE(layer.wait_notices(2 + round));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(load_acquire(layer.ctx.thread_ctl) & TVN_CTL_STOP_OK, 0u)
        << "StopOK must not come back without Stop";
  }
}

TEST(FtpEnd, WakesALongPause) {
  Layer layer;
  ASSERT_EQ(layer.start(1, 10000), 0);
  ASSERT_TRUE(layer.wait_notices(1));
  std::this_thread::sleep_for(30ms);  // the thread is in its pause now
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(tvnftp_end(&layer.ctx), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
}

TEST(FtpEnd, FromInsideTheNoticeFailsAndALaterCallEnds) {
  Layer layer;
  layer.end_in_notice.store(true);
  ASSERT_EQ(layer.start(1), 0);
  ASSERT_TRUE(layer.wait_notices(1));
  EXPECT_EQ(layer.end_result_in_notice.load(), -1);
  EXPECT_TRUE(load_acquire(layer.ctx.thread_ctl) & TVN_CTL_END_FAIL);
  EXPECT_EQ(tvnftp_end(&layer.ctx), 0);
  EXPECT_EQ(layer.ctx.thread_ctl & (TVN_CTL_END_OK | TVN_CTL_END_FAIL),
            static_cast<std::uint32_t>(TVN_CTL_END_OK));
  EXPECT_EQ(layer.ctx.records, nullptr);
}

}  // namespace
