#include "engine/item_lifecycle.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/disk_io.h"
#include "engine/heap.h"
#include "engine/item_state.h"
#include "engine/ranges.h"
#include "engine/tls_connection.h"
#include "engine/url_split.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

void free_division_arrays(ItemData& item) {
  std::free(item.div_status);
  std::free(item.div_retries);
  std::free(item.div_stop);
  std::free(item.conn.sockets);
  store_relaxed(item.div_status, nullptr);
  store_relaxed(item.div_retries, nullptr);
  store_relaxed(item.div_stop, nullptr);
  store_relaxed(item.conn.sockets, nullptr);
}

// The slot's whole sizes go with the record's division arrays: the client
// reads the pointers with acquire, so they are nulled before the blocks go.
void free_wide_arrays(WideSizes& wide) {
  std::uint64_t* len = wide.range_len;
  std::uint64_t* done = wide.range_done;
  store_release(wide.range_len, nullptr);
  store_release(wide.range_done, nullptr);
  store_relaxed(wide.file_size, std::uint64_t{0});
  std::free(len);
  std::free(done);
}

// Fresh whole-size arrays for n divisions, each entry the client's value
// for the record's 32-bit field (tvn_whole_size, with the client's arrays read
// only where the field is saturated), the client's blocks then freed. The
// record's fields are stored again from them, so both forms agree.
int take_sizes(ItemData& item, WideSizes& wide, int n) {
  auto* len = zeroed_array<std::uint64_t>(n);
  auto* done = zeroed_array<std::uint64_t>(n);
  if (len == nullptr || done == nullptr) {
    std::free(len);
    std::free(done);
    return kPrepareNoMemory;
  }
  const auto given = [](const std::uint32_t* narrow, const std::uint64_t* whole, int d) {
    if (narrow == nullptr) return std::uint64_t{0};
    return tvn_whole_size(narrow[d], narrow[d] == TVN_SIZE_WIDE && whole ? whole[d] : 0);
  };
  for (int d = 0; d < n; ++d) {
    len[d] = given(item.disk.range_len, wide.range_len, d);
    done[d] = given(item.disk.range_done, wide.range_done, d);
  }
  const std::uint64_t size = tvn_whole_size(item.disk.file_size, wide.file_size);
  free_wide_arrays(wide);
  store_release(wide.range_len, len);
  store_release(wide.range_done, done);
  const ItemSizes sizes(item, wide);
  sizes.set_file_size(size);
  if (item.disk.range_len == nullptr || item.disk.range_done == nullptr) return kPrepareOk;
  for (int d = 0; d < n; ++d) {
    sizes.set_len(d, len[d]);
    sizes.set_done(d, done[d]);
  }
  return kPrepareOk;
}

int allocate_division_arrays(ItemData& item, WideSizes& wide) {
  const int n = item.div_count;
  item.conn.sockets = zeroed_array<std::int32_t>(n);
  item.div_status = zeroed_array<std::int32_t>(n);
  item.div_retries = zeroed_array<std::int32_t>(n);
  item.div_stop = zeroed_array<std::int32_t>(n + 1);
  if (item.conn.sockets && item.div_status && item.div_retries && item.div_stop &&
      allocate_disk_arrays(item.disk, n) == 0 && take_sizes(item, wide, n) == kPrepareOk)
    return kPrepareOk;
  free_division_arrays(item);
  release_disk_arrays(item.disk);
  return kPrepareNoMemory;
}

// A negative size would read as gigabytes; more than kMaxShare per division
// only costs memory.
std::int32_t bounded_buffer_size(std::int32_t size, int n) {
  const std::int64_t most = std::min<std::int64_t>(INT32_MAX, kMaxShare * n);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(size, 0, most));
}

}  // namespace

int prepare_item(ItemData& item, WideSizes& wide, bool allocate, bool set_state) {
  if (item.div_count <= 0) store_relaxed(item.div_count, 1);
  // A resumed record keeps the count its arrays and ranges were made for.
  if (allocate && item.div_count > kMaxDivisions) store_relaxed(item.div_count, kMaxDivisions);
  const int n = item.div_count;
  item.disk.count_ref = &item.div_count;
  if (allocate) {
    // Division arrays in a slot are the engine's; whatever a reused record
    // still points at is released before the new ones are made.
    free_division_arrays(item);
    release_disk_arrays(item.disk);
    free_wide_arrays(wide);
    if (allocate_division_arrays(item, wide) != kPrepareOk) return kPrepareNoMemory;
  } else if (item.conn.sockets == nullptr || item.div_status == nullptr ||
             item.div_retries == nullptr || item.disk.range_len == nullptr ||
             item.disk.range_done == nullptr || item.disk.buf_fill == nullptr) {
    return kPrepareNoMemory;
  } else if (item.disk.buf_ptr == nullptr &&
             (item.disk.buf_ptr = zeroed_array<char*>(n)) == nullptr) {
    return kPrepareNoMemory;
  } else if (take_sizes(item, wide, n) != kPrepareOk) {
    return kPrepareNoMemory;
  }
  // A resumed record may carry the mark of the refused write it stopped for,
  // or of the failure it ended with.
  clear_bits(item.run_flags, kRunWriteRefused | kRunFailureSaid);
  for (int i = 0; i < n; ++i) {
    item.conn.sockets[i] = -1;
    store_relaxed(item.div_retries[i], item.retry);
  }
  if (resolve_item(item) != 0) return kPrepareNoHost;
  const std::int32_t size = raised_buffer_size(bounded_buffer_size(item.buffer_size, n), n);
  store_relaxed(item.buffer_size, size);
  if (cut_buffer(item, static_cast<std::uint32_t>(size)) != 0) return kPrepareNoMemory;
  fill_address(item);
  if (set_state) {
    if (item.options & TVN_OPT_SPEED_MODE) {
      set_bits(item.run_flags, TVN_RUN_PROBE_PENDING);
      set_item_state(item, TVN_STATE_DOWNLOADING);
    } else {
      set_item_state(item, TVN_STATE_PROBING);
    }
  }
  return kPrepareOk;
}

void release_item(ItemData& item, WideSizes& wide) {
  if (item.conn.sockets != nullptr) {
    for (int i = 0; i < item.div_count; ++i) close_connection(item.conn.sockets[i]);
  }
  free_division_arrays(item);
  release_disk_arrays(item.disk);
  free_wide_arrays(wide);
  std::free(item.conn.host);
  std::free(item.request_path);
  std::free(item.disk.file_name);
  store_relaxed(item.conn.host, nullptr);
  store_relaxed(item.request_path, nullptr);
  store_relaxed(item.disk.file_name, nullptr);
  store_relaxed(item.conn.host_entry, nullptr);
}

void zero_record(ItemData& item) {
  // Another thread may read any of these words while the slot is zeroed, so
  // each goes through an atomic store; the state is published last.
  store_relaxed(item.run_flags, 0);
  store_relaxed(item.data_type, 0);
  store_relaxed(item.referer, nullptr);
  store_relaxed(item.user_agent, nullptr);
  store_relaxed(item.auto_referer, 0);
  store_relaxed(item.reserved_text, nullptr);
  store_relaxed(item.url, nullptr);
  store_relaxed(item.save_path, nullptr);
  store_relaxed(item.extra_header, nullptr);
  store_relaxed(item.options, 0);
  store_relaxed(item.retry, 0);
  store_relaxed(item.div_count, 0);
  store_relaxed(item.proxy, nullptr);
  store_relaxed(item.buffer_size, 0);
  store_relaxed(item.div_status, nullptr);
  store_relaxed(item.div_retries, nullptr);
  store_relaxed(item.div_stop, nullptr);
  store_relaxed(item.conn.sockets, nullptr);
  store_relaxed(item.conn.host, nullptr);
  store_relaxed(item.conn.port, 0);
  store_relaxed(item.conn.host_entry, nullptr);
  std::memset(item.conn.address, 0, sizeof item.conn.address);
  store_relaxed(item.disk.file, 0);
  store_relaxed(item.disk.count_ref, nullptr);
  store_relaxed(item.disk.file_size, 0u);
  store_relaxed(item.disk.range_len, nullptr);
  store_relaxed(item.disk.range_done, nullptr);
  store_relaxed(item.disk.buf_ptr, nullptr);
  store_relaxed(item.disk.buf_fill, nullptr);
  store_relaxed(item.disk.buf_block, nullptr);
  store_relaxed(item.disk.file_name, nullptr);
  store_relaxed(item.request_path, nullptr);
  // The owner stays: the slot belongs to its context for the array's life,
  // and dl_stop, which may come at any moment, finds the engine lock by it.
  set_item_state(item, TVN_STATE_EMPTY);
}

namespace {

// dl_stop may come from any thread at any moment and writes into div_stop;
// the arrays go away only under the lock that dl_stop holds, so a stop that
// races with the end of an item finds either the arrays or a zeroed record,
// never freed memory. Nothing here raises a notice, so the lock is never
// held while a client runs.
void release_and_zero(EngineState& engine, int slot, ItemData& item) {
  std::lock_guard<std::recursive_mutex> lock(engine.mutex);
  release_item(item, engine.wide(slot));
  zero_record(item);
}

// A file of the same name is opened without being emptied, so that a
// resume keeps its bytes; a finished download that is shorter than what was
// there must not keep the old file's tail behind its own last byte.
void cut_to_download(const ItemSizes& sizes) {
  const ItemData& item = sizes.item();
  if (sizes.file_size() != 0) {
    platform::file_truncate(item.disk.file, sizes.file_size());
  } else if (item.div_count <= 1 && item.disk.range_done != nullptr) {
    // No size reported: the one open-ended division wrote from byte 0.
    platform::file_truncate(item.disk.file, sizes.done(0));
  }
}

}  // namespace

void finish_item(EngineState& engine, int slot, ItemData& item) {
  engine.forget_answers(slot);
  EngineContext* ctx = engine.ctx;
  const int remembered = item.state;
  int final_notice = 0;
  if (item.div_stop != nullptr && load_acquire(item.div_stop[item.div_count]) == 1) {
    final_notice = TVN_NOTICE_STOPPED;
  } else if (remembered == TVN_STATE_PROBING || remembered == TVN_STATE_DOWNLOADING) {
    final_notice = TVN_NOTICE_FINISHED;
  } else if (remembered != TVN_STATE_EMPTY) {
    final_notice = TVN_NOTICE_FAILED;
  }
  if (item.disk.file != 0) {
    const bool finished = final_notice == TVN_NOTICE_FINISHED;
    if (finished) cut_to_download(engine.sizes(slot, item));
    // A finished item leaves its file, even an empty one.
    close_item_file(item.disk, finished);
  }
  notify(ctx, TVN_NOTICE_CLOSING, slot, 0, nullptr);
  if (final_notice != 0) notify(ctx, final_notice, slot, 0, nullptr);
  release_and_zero(engine, slot, item);
  notify(ctx, TVN_NOTICE_SLOT_FREE, slot, 0, nullptr);
}

void finish_running_item(EngineState& engine, int slot, ItemData& item) {
  const ConnExclusion keep_out(engine, slot);
  finish_item(engine, slot, item);
}

void drop_stopped_item(EngineState& engine, int slot, ItemData& item) {
  notify(engine.ctx, TVN_NOTICE_STOPPED, slot, 0, nullptr);
  // The slot is zeroed without the other finishing steps; what the engine
  // owned in it is still released so that nothing leaks.
  if (item.disk.file != 0) close_item_file(item.disk, false);
  release_and_zero(engine, slot, item);
  notify(engine.ctx, TVN_NOTICE_SLOT_FREE, slot, 0, nullptr);
}

namespace {

// Whether division i has every byte of its range in the file. A division
// ends at status 2 when its connection ends, even when the disk refused its
// last bytes; finishing then would report a file with a hole as downloaded.
// A page fetched into memory keeps its bytes in the buffer, not the file.
bool range_complete(const ItemSizes& sizes, int i) {
  const std::uint64_t len = sizes.len(i);
  return len == 0 || sizes.done(i) >= len || (sizes.item().options & TVN_OPT_MEMORY_FETCH) != 0;
}

}  // namespace

bool completion_check(EngineState& engine, int slot, ItemData& item) {
  const int state = load_acquire(item.state);
  const int n = state == TVN_STATE_PROBING ? 1 : item.div_count;
  const ItemSizes sizes = engine.sizes(slot, item);
  bool any_failed = false;
  for (int i = 0; i < n; ++i) {
    const int status = load_acquire(item.div_status[i]);
    if (status != TVN_DIV_DONE && status != TVN_DIV_FAILED) return false;
    any_failed = any_failed || status == TVN_DIV_FAILED || !range_complete(sizes, i);
  }
  const ConnExclusion keep_out(engine, slot);
  if (any_failed) {
    set_item_state(item, TVN_STATE_FAILED);
  } else if (item.options & TVN_OPT_MEMORY_FETCH) {
    if (notify(engine.ctx, TVN_NOTICE_MEMORY_DONE, slot, 0, &item.disk) == -1)
      set_item_state(item, TVN_STATE_FAILED);
  }
  finish_item(engine, slot, item);
  return true;
}

bool stop_division(EngineState& engine, int slot, ItemData& item, int j) {
  const ConnExclusion keep_out(engine, slot);
  const int status = load_acquire(item.div_status[j]);
  if (status > 99) write_division(engine, slot, item, j);
  close_connection(item.conn.sockets[j]);
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::uint64_t len = sizes.len(j);
  set_division_status(item, j, (len != 0 && len == sizes.done(j)) ? TVN_DIV_DONE : TVN_DIV_FAILED);
  return completion_check(engine, slot, item);
}

}  // namespace torvane::engine
