// The receive step of the download thread: one probe a cycle over the
// receiving sockets of every running item, then one read per ready
// division. A header, a chunked body and a page fetched into memory go into
// the division's share of the item's buffer block; a plain body goes
// straight to the file (through the kernel's pipe for a plain connection,
// through the engine's bulk block for TLS), in reads far larger than a
// share, so a fast connection costs few calls per byte while every item's
// buffer stays as small as its BufferSize.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "engine/disk_io.h"
#include "engine/item_lifecycle.h"
#include "engine/item_state.h"
#include "engine/ranges.h"
#include "engine/response_handler.h"
#include "engine/threads.h"
#include "engine/tls_connection.h"
#include "platform/socket.h"
#include "platform/splice_pipe.h"
#include "platform/wait_set.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

// A page fetched into memory grows its buffer up to this size; a larger
// answer fails rather than being cut short.
constexpr std::uint32_t kMemoryFetchLimit = 64u << 20;

bool receiving(int status) {
  return status == TVN_DIV_SENT || status > 99;
}

// Doubles the buffer of a single-division memory fetch whose share is full,
// so that the whole page reaches the client. False when it cannot grow.
bool grow_memory_buffer(ItemData& item) {
  if (item.div_count != 1) return false;
  const std::uint32_t size = static_cast<std::uint32_t>(item.buffer_size);
  if (size >= kMemoryFetchLimit) return false;
  const std::uint32_t grown = std::min(size * 2, kMemoryFetchLimit);
  char* block = static_cast<char*>(std::realloc(item.disk.buf_block, grown));
  if (block == nullptr) return false;
  item.disk.buf_block = block;
  item.disk.buf_ptr[0] = block;
  store_relaxed(item.buffer_size, static_cast<std::int32_t>(grown));
  return true;
}

// A failed attempt of division b. Returns false when it ended the item.
bool attempt_failed(EngineState& engine, int slot, ItemData& item, int b) {
  fail_attempt(item, b);
  return load_acquire(item.div_status[b]) != TVN_DIV_FAILED ||
         !completion_check(engine, slot, item);
}

// Division b, whose answer ended before its range (or its last chunk), fails:
// the item fails with it, and says why once.
bool failed_short(EngineState& engine, int slot, ItemData& item, int b, bool cut_short) {
  set_division_status(item, b, TVN_DIV_FAILED);
  if (first_time(item, kRunFailureSaid)) {
    const ItemSizes sizes = engine.sizes(slot, item);
    notify_message(engine.ctx, slot,
                   cut_short ? std::string("the server closed the connection before the answer's "
                                           "last chunk")
                             : "the server closed the connection before the end of the answer (" +
                                   std::to_string(sizes.done(b)) + " of " +
                                   std::to_string(sizes.len(b)) + " bytes)");
  }
  return !completion_check(engine, slot, item);
}

// Division b's connection closed before its range (or its chunked body) was
// complete: asked again under AutoResume, else failed. Returns false when the
// item was finished.
bool closed_early(EngineState& engine, int slot, ItemData& item, int b, bool cut_short) {
  // An answer that closed without one body byte where bytes were due uses
  // an attempt even under AutoResume: asking again for free would loop for
  // ever against a server that only ever sends its header.
  const std::vector<std::uint64_t>& starts = engine.answers(slot).answer_start;
  const bool moved = static_cast<std::size_t>(b) >= starts.size() ||
                     engine.sizes(slot, item).done(b) != starts[static_cast<std::size_t>(b)];
  if (!moved) {
    const int left = load_relaxed(item.div_retries[b]);
    if (left < 2) return failed_short(engine, slot, item, b, cut_short);
    store_relaxed(item.div_retries[b], left - 1);
  }
  if (item.options & TVN_OPT_AUTO_RESUME) {
    set_division_status(item, b, TVN_DIV_IDLE);
    engine.conn_wake.signal();
    return true;
  }
  return failed_short(engine, slot, item, b, cut_short);
}

// The connection of division b ended (the server closed it, or there is no
// room left). Returns false when the item was finished.
bool connection_ended(EngineState& engine, int slot, ItemData& item, int b,
                      std::uint32_t capacity) {
  const int status = load_acquire(item.div_status[b]);
  if (status < 100) {
    // A header cut off by the close may still be complete but for its blank
    // line; anything less is a failed attempt, never a finished empty item.
    const std::int32_t fill = item.disk.buf_fill[b];
    if (fill > 0 && static_cast<std::uint32_t>(fill) + 2 <= capacity) {
      std::memcpy(item.disk.buf_ptr[b] + fill, "\r\n", 2);
      store_relaxed(item.disk.buf_fill[b], fill + 2);
      if (!handle_header(engine, slot, item, b)) return false;
    }
    // Every path that hands the division back (status 0) has closed its
    // socket already; after that the socket variable is the connection
    // thread's.
    const int now = load_acquire(item.div_status[b]);
    if (now == TVN_DIV_SENT) return attempt_failed(engine, slot, item, b);
    if (now < 100) return true;
    store_relaxed(item.disk.buf_fill[b], 0);  // a header alone: no body bytes
  } else if (!(item.options & TVN_OPT_MEMORY_FETCH)) {
    if (write_division(engine, slot, item, b) == kWriteRefused) {
      // The item stops or fails for the disk; this range is not asked again.
      close_connection(item.conn.sockets[b]);
      store_relaxed(item.disk.buf_fill[b], 0);
      set_division_status(item, b, TVN_DIV_FAILED);
      return is_running(item) && !completion_check(engine, slot, item);
    }
    store_relaxed(item.disk.buf_fill[b], 0);
  }
  // A chunked body has no size; only its last chunk says it is complete.
  const bool cut_short = chunks_cut_short(engine, slot, b);
  close_connection(item.conn.sockets[b]);
  set_division_status(item, b, TVN_DIV_DONE);
  notify(engine.ctx, TVN_NOTICE_DATA, slot, b, &item);
  if (!is_running(item)) return false;
  const ItemSizes sizes = engine.sizes(slot, item);
  if (sizes.len(b) > sizes.done(b) || cut_short)
    return closed_early(engine, slot, item, b, cut_short);
  return !completion_check(engine, slot, item);
}

// Division b's share is full before a read: a header that does not fit fails
// the attempt, a page fetched into memory grows its buffer (`capacity` then
// follows), and a download writes the share to the file. Empty when the read
// goes on, else what read_division returns.
std::optional<bool> full_share(EngineState& engine, int slot, ItemData& item, int b, int status,
                               std::uint32_t& capacity) {
  if (status < 100) {
    // A header larger than the share is not an answer we can read.
    return attempt_failed(engine, slot, item, b);
  }
  if (item.options & TVN_OPT_MEMORY_FETCH) {
    if (!grow_memory_buffer(item)) return attempt_failed(engine, slot, item, b);
    capacity = static_cast<std::uint32_t>(item.buffer_size);
  } else if (write_division(engine, slot, item, b) == kWriteRefused) {
    // The share stays full: the division waits for the item's stop or
    // failure instead of reading on or taking the full share for a close.
    return is_running(item);
  }
  return std::nullopt;
}

// Bytes division b may read now: the free part of its share, and no more
// than its range still lacks once the file's size is known.
std::int64_t read_room(const ItemSizes& sizes, int b, int status, std::uint32_t capacity) {
  ItemData& item = sizes.item();
  const DiskIO& disk = item.disk;
  std::int64_t room = static_cast<std::int64_t>(capacity) - disk.buf_fill[b];
  if (load_acquire(item.state) == TVN_STATE_DOWNLOADING && status > 99 && sizes.file_size() != 0) {
    // Both below kMaxSize: the difference fits.
    const std::int64_t left = static_cast<std::int64_t>(sizes.len(b)) -
                              static_cast<std::int64_t>(sizes.done(b)) - disk.buf_fill[b];
    room = std::min(room, left);
  }
  return room;
}

// Body bytes of division b are in its share: notice 105, and once its range
// is complete the bytes are written and the division ends, unless the next
// division still needs the bytes this connection brings past the range.
// False when the item was finished.
bool take_body_bytes(EngineState& engine, int slot, ItemData& item, int b) {
  notify(engine.ctx, TVN_NOTICE_DATA, slot, b, &item);
  const ItemSizes sizes = engine.sizes(slot, item);
  if (sizes.file_size() == 0 ||
      sizes.done(b) + static_cast<std::uint32_t>(item.disk.buf_fill[b]) < sizes.len(b))
    return true;
  write_division(engine, slot, item, b);
  const int last = item.div_count - 1;
  if (item.div_count == 1 || b == last || load_acquire(item.div_status[b + 1]) >= TVN_DIV_DONE) {
    close_connection(item.conn.sockets[b]);
    set_division_status(item, b, TVN_DIV_DONE);
    return !completion_check(engine, slot, item);
  }
  return true;
}

// A read brought bytes to division b, whose share held `before` bytes: the
// answer's header, a piece of a chunked body, or body bytes. False when the
// item was finished.
bool took_bytes(EngineState& engine, int slot, ItemData& item, int b, int status,
                std::int32_t before) {
  if (status == TVN_DIV_SENT) {
    if (!handle_header(engine, slot, item, b)) return false;
    if (!is_running(item) || b >= item.div_count) return is_running(item);
    status = load_acquire(item.div_status[b]);
  } else if (status > 99 && chunked_division(engine, slot, b)) {
    const ChunkDecoder::Result chunks = take_chunks(engine, slot, item, b, before);
    if (chunks == ChunkDecoder::Result::kBad) return attempt_failed(engine, slot, item, b);
    if (chunks == ChunkDecoder::Result::kEnd) {
      notify(engine.ctx, TVN_NOTICE_DATA, slot, b, &item);
      return is_running(item) && end_division(engine, slot, item, b);
    }
  }
  return status < 100 || take_body_bytes(engine, slot, item, b);
}

// The most one read straight to the file takes: what a fast loopback
// connection has queued, without letting one division hold the thread up.
// Through the bulk block (TLS) a read takes at most the block: a few
// records a time already spare most calls, and the block stays small.
constexpr std::size_t kBulkBytes = 1 << 20;
constexpr std::size_t kBlockBytes = 256 << 10;

// Division b's body may go straight to the file: a plain body of a
// download whose ranges are known, with nothing waiting in its share.
bool straight_to_file(EngineState& engine, int slot, ItemData& item, int b, int status) {
  return status > 99 && !(item.options & TVN_OPT_MEMORY_FETCH) && item.disk.file != 0 &&
         item.disk.buf_fill[b] == 0 && load_acquire(item.state) == TVN_STATE_DOWNLOADING &&
         !size_probe_running(load_acquire(item.run_flags)) && !chunked_division(engine, slot, b);
}

// Whether the item's file takes bytes from the pipe, judged once per file
// (and no more once its file or a socket refused one).
bool file_takes_splice(SlotAnswers& answers, ItemData& item) {
  if (answers.splice_judged != item.disk.file) {
    answers.splice_judged = item.disk.file;
    answers.splice_file = platform::file_takes_splice(item.disk.file);
  }
  return answers.splice_file;
}

// After a read straight to the file moved `moved` bytes and its last
// receive gave `last`: notice 105 and the end of the range, or the close,
// reset or refused write that ended the read. False when the item was
// finished.
bool after_read_to_file(EngineState& engine, int slot, ItemData& item, int b, std::size_t moved,
                        long last, bool refused, std::uint32_t capacity) {
  if (moved > 0) {
    ++engine.reads_this_cycle;
    // A refused write has told the item to stop or fail; the division reads
    // no further meanwhile.
    if (refused) return is_running(item);
    if (last > 0 || last == platform::kRecvWouldBlock || last == platform::kRecvInterrupted)
      return take_body_bytes(engine, slot, item, b);
  }
  if (last == platform::kRecvWouldBlock || last == platform::kRecvInterrupted) return true;
  if (last == 0) return connection_ended(engine, slot, item, b, capacity);
  // A reset, or any other receive error: the socket is dead either way.
  if (moved > 0) notify(engine.ctx, TVN_NOTICE_DATA, slot, b, &item);
  reconnect_item(engine, slot, item, b, 1);
  return is_running(item);
}

// One read of division b straight to the file, at most `room` bytes. False
// when the item was finished; empty when neither the pipe nor the bulk
// block can be had (the share then takes the read).
std::optional<bool> read_to_file(EngineState& engine, int slot, ItemData& item, int b,
                                 std::uint64_t room, std::uint32_t capacity) {
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(room, kBulkBytes));
  SlotAnswers& answers = engine.answers(slot);
  const std::int32_t fd = item.conn.sockets[b];
  if (!tls_active(fd) && file_takes_splice(answers, item)) {
    const platform::SpliceMove moved = splice_received(engine, slot, item, b, want);
    if (moved.file_refused || moved.got == platform::kSpliceUnsupported)
      answers.splice_file = false;
    if (moved.got != platform::kSpliceUnsupported) {
      return after_read_to_file(engine, slot, item, b,
                                moved.got > 0 ? static_cast<std::size_t>(moved.got) : 0, moved.got,
                                moved.write_result != 0, capacity);
    }
  }
  if (!engine.bulk_block) engine.bulk_block.reset(new (std::nothrow) char[kBlockBytes]);
  if (!engine.bulk_block) return std::nullopt;
  std::size_t received = 0;
  const long last =
      connection_recv_all(fd, engine.bulk_block.get(), std::min(want, kBlockBytes), received);
  const bool refused =
      received > 0 &&
      write_received(engine, slot, item, b, engine.bulk_block.get(), received) == kWriteRefused;
  return after_read_to_file(engine, slot, item, b, received, last, refused, capacity);
}

// One read for division b. Returns false when the item was finished.
bool read_division(EngineState& engine, int slot, ItemData& item, int b) {
  DiskIO& disk = item.disk;
  const std::uint32_t size = static_cast<std::uint32_t>(item.buffer_size);
  std::uint32_t capacity = share_capacity(disk.buf_ptr, item.div_count, size, b);
  const int status = load_acquire(item.div_status[b]);
  if (static_cast<std::uint32_t>(disk.buf_fill[b]) >= capacity) {
    if (const std::optional<bool> result = full_share(engine, slot, item, b, status, capacity))
      return *result;
  }
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::int64_t room = read_room(sizes, b, status, capacity);
  if (room <= 0) return connection_ended(engine, slot, item, b, capacity);
  if (straight_to_file(engine, slot, item, b, status)) {
    // An open range (no size known) reads on until the close.
    const std::uint64_t left = sizes.file_size() == 0 ? kBulkBytes : sizes.len(b) - sizes.done(b);
    if (const std::optional<bool> result = read_to_file(engine, slot, item, b, left, capacity))
      return *result;
  }
  const long got = connection_recv(item.conn.sockets[b], disk.buf_ptr[b] + disk.buf_fill[b],
                                   static_cast<std::size_t>(room));
  if (got == platform::kRecvWouldBlock || got == platform::kRecvInterrupted) return true;
  if (got < 0) {
    // A reset, or any other receive error: the socket is dead either way.
    reconnect_item(engine, slot, item, b, 1);
    return is_running(item);
  }
  if (got == 0) return connection_ended(engine, slot, item, b, capacity);
  ++engine.reads_this_cycle;
  const std::int32_t before = disk.buf_fill[b];
  store_relaxed(disk.buf_fill[b], before + static_cast<std::int32_t>(got));
  return took_bytes(engine, slot, item, b, status, before);
}

}  // namespace

bool ReceiveSet::collect(EngineContext* ctx, platform::WaitSet& waits) {
  waits.clear();
  entries_.clear();
  next_ = 0;
  all_ready_ = false;
  bool tls_waiting = false;
  const int count = slot_count_of(ctx);
  for (int slot = 0; slot < count; ++slot) {
    ItemData& item = *slot_at(ctx, slot);
    if (!is_running(item) || item.div_status == nullptr || item.conn.sockets == nullptr ||
        item.disk.buf_ptr == nullptr)
      continue;
    const std::uint32_t flags = load_acquire(item.run_flags);
    // While SpeedMode's size probe runs, only its answer is read.
    int n = item.div_count;
    if (size_probe_running(flags)) n = (flags & TVN_RUN_PROBE_SENT) ? 1 : 0;
    int watched = 0;
    for (int b = 0; b < n && watched < platform::kMaxProbeSockets; ++b) {
      // The status first: while it is below 1 the socket variable is the
      // connection thread's.
      const std::int32_t fd =
          receiving(load_acquire(item.div_status[b])) ? item.conn.sockets[b] : -1;
      if (fd < 0) continue;
      waits.watch_readable(fd);
      entries_.push_back(Entry{slot, b, fd});
      ++watched;
      // A TLS record may hold more than the last read took: those bytes are
      // decrypted already, and the socket no longer shows them as readable.
      tls_waiting = tls_waiting || tls_pending(fd);
    }
  }
  return tls_waiting;
}

std::pair<std::size_t, std::size_t> ReceiveSet::take(int slot) {
  while (next_ < entries_.size() && entries_[next_].slot < slot) ++next_;
  const std::size_t begin = next_;
  while (next_ < entries_.size() && entries_[next_].slot == slot) ++next_;
  return {begin, next_};
}

bool ReceiveSet::ready(std::size_t k, const platform::WaitSet& waits) const {
  return all_ready_ || waits.ready(k) || tls_pending(entries_[k].fd);
}

void receive_item(EngineState& engine, int slot, ItemData& item, ReceiveSet& receiving_set,
                  const platform::WaitSet& waits) {
  const auto [begin, end] = receiving_set.take(slot);
  if (item.div_status == nullptr || item.conn.sockets == nullptr || item.disk.buf_ptr == nullptr)
    return;
  for (std::size_t k = begin; k < end; ++k) {
    const ReceiveSet::Entry& entry = receiving_set.entry(k);
    const int b = entry.div;
    if (!is_running(item)) return;
    const std::uint32_t flags = load_acquire(item.run_flags);
    if (b > 0 && (flags & TVN_RUN_PROBE_SENT) && !(flags & TVN_RUN_PROBE_DONE)) return;
    if (b >= item.div_count || !receiving(load_acquire(item.div_status[b])) ||
        item.conn.sockets[b] != entry.fd || !receiving_set.ready(k, waits))
      continue;
    if (!read_division(engine, slot, item, b)) return;
  }
}

}  // namespace torvane::engine
