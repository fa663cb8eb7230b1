// The FTP layer's thread and its two exports. One thread serves every
// connection record: it pauses, honours the Stop handshake, grows the table
// on request, and otherwise takes one login step per record. It polls with
// zero time-outs and takes no locks; its pause ends early when a socket it
// waits for becomes ready or tvnftp_end wakes it.
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

#include "engine/ftp/ftp_layer.h"
#include "platform/thread_time.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

constexpr std::int32_t kSpareRecords = 10;

bool has(std::uint32_t& word, std::uint32_t bits) {
  return (load_acquire(word) & bits) != 0;
}

void pause(FtpState& ftp, platform::WaitSet& waits) {
  TvnFtpContext* ctx = ftp.ctx;
  const int wait_ms = load_relaxed(ctx->wait_ms);
  if (wait_ms <= 0) return;
  waits.clear();
  // While Stop is set the caller may be changing the records: not a byte
  // of them is read, not even their sockets.
  if (!has(ctx->thread_ctl, TVN_CTL_STOP)) {
    if (has(ctx->resize_ctl, TVN_RESIZE_REQUEST)) return;  // due now
    TvnFtpConnection* records = ctx->records;
    const std::int32_t count = ctx->record_count;
    for (std::int32_t i = 0; i < count; ++i)
      if (ftp_watch(records[i], waits)) return;  // a command is due: no pause
  }
  waits.wait(ftp.wake, wait_ms);
}

// StopOK is set only while Stop still is, so a caller that clears both
// together never finds a StopOK left over from an earlier pause.
void confirm_stop(TvnFtpContext* ctx) {
  std::atomic_ref<std::uint32_t> ctl(ctx->thread_ctl);
  std::uint32_t value = ctl.load(std::memory_order_acquire);
  while ((value & TVN_CTL_STOP) && !(value & TVN_CTL_STOP_OK) &&
         !ctl.compare_exchange_weak(value, value | TVN_CTL_STOP_OK, std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
  }
}

// Grows the table to wanted + 10 records. False when the count cannot be
// represented or no memory can be had.
bool grow_table(TvnFtpContext* ctx, std::int32_t wanted) {
  // wanted + 10 must stay an int32, and its byte size a size_t.
  if (wanted > std::numeric_limits<std::int32_t>::max() - kSpareRecords) return false;
  const auto count = static_cast<std::size_t>(wanted + kSpareRecords);
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(TvnFtpConnection)) return false;
  const std::int32_t old_count = ctx->record_count;
  auto* grown =
      static_cast<TvnFtpConnection*>(std::realloc(ctx->records, count * sizeof(TvnFtpConnection)));
  if (grown == nullptr) return false;
  std::memset(static_cast<void*>(grown + old_count), 0,
              (count - static_cast<std::size_t>(old_count)) * sizeof(TvnFtpConnection));
  store_release(ctx->records, grown);
  store_release(ctx->record_count, static_cast<std::int32_t>(count));
  return true;
}

void handle_resize(TvnFtpContext* ctx) {
  const std::int32_t wanted = load_acquire(ctx->wanted_count);
  const std::int32_t have = ctx->record_count;
  if (wanted > have) {
    if (grow_table(ctx, wanted)) {
      set_bits(ctx->resize_ctl, TVN_RESIZE_DONE);
    } else {
      store_release(ctx->wanted_count, have);
    }
  } else {
    set_bits(ctx->resize_ctl, TVN_RESIZE_DONE);
  }
  const TvnFtpCallback callback = ctx->callback;
  if (callback != nullptr) callback(ctx, TVN_NOTICE_RESIZED, 0, 0, nullptr);
  clear_bits(ctx->resize_ctl, TVN_RESIZE_REQUEST | TVN_RESIZE_DONE);
}

void release_table(TvnFtpContext* ctx) {
  TvnFtpConnection* records = ctx->records;
  const std::int32_t count = ctx->record_count;
  for (std::int32_t i = 0; i < count; ++i) ftp_release(records[i]);
  store_release(ctx->records, static_cast<TvnFtpConnection*>(nullptr));
  store_release(ctx->record_count, 0);
  std::free(records);
}

}  // namespace

FtpState* ftp_state_of(const TvnFtpContext* ctx) {
  if (ctx == nullptr) return nullptr;
  return static_cast<FtpState*>(load_acquire(const_cast<TvnFtpContext*>(ctx)->thread));
}

void run_ftp_thread(FtpState& ftp) {
  TvnFtpContext* ctx = ftp.ctx;
  const std::uint32_t tid = platform::current_thread_id();
  ftp.thread_tid.store(tid, std::memory_order_release);
  store_release(ctx->thread_id, tid);
  platform::WaitSet waits;
  while (!has(ctx->thread_ctl, TVN_CTL_END)) {
    pause(ftp, waits);
    if (has(ctx->thread_ctl, TVN_CTL_STOP)) {
      confirm_stop(ctx);
      continue;
    }
    if (has(ctx->resize_ctl, TVN_RESIZE_REQUEST)) {
      handle_resize(ctx);
      continue;
    }
    TvnFtpConnection* records = ctx->records;
    const std::int32_t count = ctx->record_count;
    for (std::int32_t i = 0; i < count; ++i) ftp_step(ftp, records[i]);
  }
  release_table(ctx);
}

}  // namespace torvane::engine

using torvane::clear_bits;
using torvane::set_bits;
using torvane::store_release;
using torvane::engine::FtpState;

extern "C" {

TORVANE_API int tvnftp_init(TvnFtpContext* ctx, int mode) {
  if (mode > 0 || ctx == nullptr) return -1;
  // A second thread on the same table would corrupt it.
  if (torvane::engine::ftp_state_of(ctx) != nullptr) return -1;
  std::unique_ptr<FtpState> ftp;
  try {
    ftp = std::make_unique<FtpState>(ctx);
  } catch (const std::bad_alloc&) {
    return -2;
  }
  if (!ftp->wake.valid()) return -2;
  // The table belongs to the layer; whatever the fields hold now is not one.
  ctx->records = nullptr;
  ctx->record_count = 0;
  if (ctx->wanted_count > 0) set_bits(ctx->resize_ctl, TVN_RESIZE_REQUEST);
  store_release(ctx->thread_ctl, 0u);
  store_release(ctx->thread, static_cast<void*>(ftp.get()));
  try {
    ftp->thread = std::thread(torvane::engine::run_ftp_thread, std::ref(*ftp));
  } catch (const std::system_error&) {
    store_release(ctx->thread, static_cast<void*>(nullptr));
    return -2;
  }
  ftp.release();  // owned through the context until tvnftp_end
  return 0;
}

TORVANE_API int tvnftp_end(TvnFtpContext* ctx) {
  FtpState* ftp = torvane::engine::ftp_state_of(ctx);
  if (ftp == nullptr) return -1;
  set_bits(ctx->thread_ctl, TVN_CTL_END);
  ftp->wake.signal();
  // The layer's own thread (a call from inside notice 201) cannot join
  // itself; it still ends after this cycle, and a call from another thread
  // then joins it. Asked first rather than left to join() to refuse.
  bool joined =
      ftp->thread_tid.load(std::memory_order_acquire) != torvane::platform::current_thread_id();
  if (joined) {
    try {
      ftp->thread.join();
    } catch (const std::system_error&) {
      joined = false;
    }
  }
  if (!joined) {
    set_bits(ctx->thread_ctl, TVN_CTL_END_FAIL);
    return -1;
  }
  store_release(ctx->thread, static_cast<void*>(nullptr));
  std::unique_ptr<FtpState>{ftp}.reset();  // taken back from the context
  clear_bits(ctx->thread_ctl, TVN_CTL_END_FAIL);
  set_bits(ctx->thread_ctl, TVN_CTL_END_OK);
  return 0;
}

}  // extern "C"
