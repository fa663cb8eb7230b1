// The receive passes over a running item (download thread): one zero-time-out
// probe of at most 64 sockets, then one read per ready division straight
// into its share of the item's buffer block.
#include <algorithm>
#include <cstdlib>
#include <cstring>
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
  const std::int64_t room = read_room(engine.sizes(slot, item), b, status, capacity);
  if (room <= 0) return connection_ended(engine, slot, item, b, capacity);
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

// One receive pass. Returns false when the item was finished.
bool receive_pass(EngineState& engine, int slot, ItemData& item) {
  std::int32_t fds[platform::kMaxProbeSockets];
  int divisions[platform::kMaxProbeSockets];
  bool ready[platform::kMaxProbeSockets];
  int count = 0;
  const int n = item.div_count;
  for (int b = 0; b < n && count < platform::kMaxProbeSockets; ++b) {
    // The status first: while it is below 1 the socket variable is the
    // connection thread's.
    if (!receiving(load_acquire(item.div_status[b])) || item.conn.sockets[b] < 0) continue;
    fds[count] = item.conn.sockets[b];
    divisions[count++] = b;
  }
  if (count == 0) return true;
  if (count == 1) {
    ready[0] = true;  // the non-blocking read itself says whether bytes wait
  } else if (platform::sockets_readable(fds, count, ready) < 0) {
    return true;
  }
  // A TLS record may hold more than the last read took: those bytes are
  // decrypted already, and the socket no longer shows them as readable.
  if (count > 1) {
    for (int k = 0; k < count; ++k) ready[k] = ready[k] || tls_pending(fds[k]);
  }
  for (int k = 0; k < count; ++k) {
    const int b = divisions[k];
    if (!is_running(item)) return false;
    const std::uint32_t flags = load_acquire(item.run_flags);
    if (b > 0 && (flags & TVN_RUN_PROBE_SENT) && !(flags & TVN_RUN_PROBE_DONE)) break;
    if (!ready[k] || b >= item.div_count) continue;
    if (!receiving(load_acquire(item.div_status[b])) || item.conn.sockets[b] != fds[k]) continue;
    if (!read_division(engine, slot, item, b)) return false;
  }
  return true;
}

}  // namespace

void receive_item(EngineState& engine, int slot, ItemData& item) {
  if (item.div_status == nullptr || item.conn.sockets == nullptr || item.disk.buf_ptr == nullptr)
    return;
  const std::uint32_t flags = load_acquire(item.run_flags);
  int passes = 0;
  if (!size_probe_running(flags)) {
    for (int b = 0; b < item.div_count; ++b)
      passes += receiving(load_acquire(item.div_status[b])) ? 1 : 0;
  } else if ((flags & TVN_RUN_PROBE_SENT) && receiving(load_acquire(item.div_status[0]))) {
    passes = 1;
  }
  for (int p = 0; p < passes; ++p) {
    if (!receive_pass(engine, slot, item)) return;
  }
}

void watch_receiving(ItemData& item, platform::WaitSet& waits) {
  if (item.div_status == nullptr || item.conn.sockets == nullptr) return;
  const int n = load_acquire(item.div_count);
  for (int b = 0; b < n; ++b) {
    if (receiving(load_acquire(item.div_status[b]))) waits.watch_readable(item.conn.sockets[b]);
  }
}

bool tls_bytes_waiting(ItemData& item) {
  if (item.div_status == nullptr || item.conn.sockets == nullptr) return false;
  for (int b = 0; b < item.div_count; ++b) {
    if (receiving(load_acquire(item.div_status[b])) && tls_pending(item.conn.sockets[b]))
      return true;
  }
  return false;
}

}  // namespace torvane::engine
