#include "engine/disk_io.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/engine_state.h"
#include "engine/heap.h"
#include "engine/item_state.h"
#include "engine/ranges.h"
#include "platform/file.h"
#include "platform/splice_pipe.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

// Every handle opened through DiskIO_OpenFile and whether that open created
// the file. Opens and closes take the lock for their whole work, so no open
// of the same file can slip in between the checks of a close and its delete.
std::mutex g_opens_mutex;
std::map<std::intptr_t, bool> g_opens;

}  // namespace

int allocate_disk_arrays(DiskIO& disk, int n) {
  disk.range_len = zeroed_array<std::uint32_t>(n);
  disk.range_done = zeroed_array<std::uint32_t>(n);
  disk.buf_ptr = zeroed_array<char*>(n);
  disk.buf_fill = zeroed_array<std::int32_t>(n);
  if (disk.range_len && disk.range_done && disk.buf_ptr && disk.buf_fill) return 0;
  release_disk_arrays(disk);
  return 1;
}

void release_disk_arrays(DiskIO& disk) {
  std::free(disk.range_len);
  std::free(disk.range_done);
  std::free(disk.buf_ptr);
  std::free(disk.buf_fill);
  std::free(disk.buf_block);
  store_relaxed(disk.range_len, nullptr);
  store_relaxed(disk.range_done, nullptr);
  store_relaxed(disk.buf_ptr, nullptr);
  store_relaxed(disk.buf_fill, nullptr);
  store_relaxed(disk.buf_block, nullptr);
}

int cut_buffer(ItemData& item, std::uint32_t size) {
  DiskIO& disk = item.disk;
  std::free(disk.buf_block);
  disk.buf_block = nullptr;
  if (size == 0) size = 1;
  disk.buf_block = static_cast<char*>(std::malloc(size));
  if (disk.buf_block == nullptr || disk.buf_ptr == nullptr) return -1;
  const int n = item.div_count > 0 ? item.div_count : 1;
  cut_shares(disk.buf_block, size, n, disk.buf_ptr);
  // A new block holds nothing: no share has bytes waiting.
  for (int i = 0; i < n; ++i) store_relaxed(disk.buf_fill[i], 0);
  return 0;
}

namespace {

// The disk refused a write of the item. A full disk is no fault of the
// download: the item stops as a user's stop would leave it, to be resumed
// once there is room. Any other error fails it. Asking the server again
// could only bring bytes the disk refuses again, so nothing is re-requested
// either way; the stop flags keep the connection thread from sending.
void refuse_item(EngineState& engine, int slot, ItemData& item, bool disk_full,
                 const std::string& error) {
  if (!first_time(item, kRunWriteRefused)) return;
  const std::string name = item.disk.file_name != nullptr ? item.disk.file_name : "";
  if (disk_full && item.div_stop != nullptr && item.div_status != nullptr) {
    const int n = item.div_count > 0 ? item.div_count : 1;
    for (int d = 0; d < n; ++d) {
      if (load_acquire(item.div_status[d]) != TVN_DIV_DONE) store_release(item.div_stop[d], 1);
    }
    store_release(item.div_stop[item.div_count], 1);
  } else if (!disk_full) {
    set_item_state(item, TVN_STATE_FAILED);
    engine.post(SlotRequest{SlotRequest::kFinish, slot, 0, 0});
  }
  notify_message(engine.ctx, slot, disk_full ? "disk full: " + name : error + ": " + name);
}

// Division i's bytes done grow by the `written` bytes that reached the file;
// a write that failed (`result`, with `error` its reason) ends the item.
void count_written(EngineState& engine, int slot, ItemData& item, int i, std::uint64_t written,
                   int result, const std::string& error) {
  if (result != 0) refuse_item(engine, slot, item, result == platform::kDiskFull, error);
  const ItemSizes sizes = engine.sizes(slot, item);
  sizes.set_done(i, sizes.done(i) + written);
}

// Of `size` bytes for division i, those inside its range: a server may send
// beyond it, and those bytes belong to the next division.
std::uint64_t inside_range(const ItemSizes& sizes, int i, std::uint64_t size) {
  const std::uint64_t len = sizes.len(i);
  const std::uint64_t done = sizes.done(i);
  if (len == 0) return size;
  return done >= len ? 0 : std::min(size, len - done);
}

}  // namespace

int write_division(EngineState& engine, int slot, ItemData& item, int i) {
  DiskIO& disk = item.disk;
  if (disk.file == 0 || disk.buf_block == nullptr) return -1;
  const std::int32_t fill = disk.buf_fill[i];
  if (fill <= 0) return 0;
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::uint64_t amount = inside_range(sizes, i, static_cast<std::uint64_t>(fill));
  std::size_t written = 0;
  int result = 0;
  if (amount > 0) {
    result = platform::file_write_at(disk.file, disk.buf_ptr[i], static_cast<std::size_t>(amount),
                                     sizes.next_byte(i), &written);
  }
  count_written(engine, slot, item, i, written, result,
                result != 0 ? platform::last_error_text() : std::string());
  std::int32_t left = fill - static_cast<std::int32_t>(written);
  const std::uint64_t len = sizes.len(i);
  if (len != 0 && sizes.done(i) >= len) left = 0;  // the surplus is dropped
  if (left > 0 && written > 0) std::memmove(disk.buf_ptr[i], disk.buf_ptr[i] + written, left);
  store_relaxed(disk.buf_fill[i], left);
  if (result != 0) return kWriteRefused;
  return left > 0 ? -1 : 0;
}

int write_received(EngineState& engine, int slot, ItemData& item, int i, const char* data,
                   std::size_t size) {
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::uint64_t amount = inside_range(sizes, i, size);
  if (item.disk.file == 0 || amount == 0) return 0;
  std::size_t written = 0;
  const int result = platform::file_write_at(item.disk.file, data, static_cast<std::size_t>(amount),
                                             sizes.next_byte(i), &written);
  count_written(engine, slot, item, i, written, result,
                result != 0 ? platform::last_error_text() : std::string());
  return result != 0 ? kWriteRefused : 0;
}

platform::SpliceMove splice_received(EngineState& engine, int slot, ItemData& item, int i,
                                     std::size_t size) {
  const ItemSizes sizes = engine.sizes(slot, item);
  const std::uint64_t amount = inside_range(sizes, i, size);
  if (item.disk.file == 0 || amount == 0) return {.got = platform::kSpliceUnsupported};
  const platform::SpliceMove move = engine.splice_pipe.move(
      item.conn.sockets[i], item.disk.file, sizes.next_byte(i), static_cast<std::size_t>(amount));
  if (move.got > 0) {
    count_written(engine, slot, item, i, move.written, move.write_result,
                  move.write_result != 0 ? platform::last_error_text() : std::string());
  }
  return move;
}

int open_item_file(EngineContext* ctx, int slot, ItemData& item, bool report_failure) {
  bool ok = notify(ctx, TVN_NOTICE_OPEN_FILE, slot, 0, nullptr) != -1;
  if (ok && item.disk.file == 0) {
    char name[TVN_PATH_CAPACITY];
    ok = DiskIO_MakeFileName(item.save_path, item.url, name) == 0 && name[0] != '\0' &&
         DiskIO_OpenFile(&item.disk, name) == 0;
  }
  if (ok) return 0;
  set_item_state(item, TVN_STATE_FAILED);
  if (report_failure) notify(ctx, TVN_NOTICE_FAILED, slot, 0, nullptr);
  return -1;
}

int close_item_file(DiskIO& disk, bool finished) {
  if (disk.file == 0) return -1;
  const std::intptr_t handle = disk.file;
  std::lock_guard<std::mutex> lock(g_opens_mutex);
  bool created = false;
  if (const auto found = g_opens.find(handle); found != g_opens.end()) {
    created = found->second;
    g_opens.erase(found);
  }
  // A failed or stopped item takes back only what it made itself: a file of
  // that name that was there before may be another download's finished
  // work. A device or pipe given as the save path reads as 0 bytes and is
  // never a regular file.
  bool remove = !finished && created && disk.file_name != nullptr &&
                platform::file_is_empty_regular(handle) &&
                platform::path_names_file(disk.file_name, handle);
  for (const auto& entry : g_opens) {
    if (remove && platform::same_file(entry.first, handle))
      remove = false;  // another item writes it
  }
  platform::file_close(handle);
  disk.file = 0;
  if (remove) platform::remove_file(disk.file_name);
  std::free(disk.file_name);
  disk.file_name = nullptr;
  return 0;
}

}  // namespace torvane::engine

using namespace torvane::engine;

extern "C" {

TORVANE_API int DiskIO_MakeFileName(const char* save_path, const char* url, char* out) {
  if (save_path == nullptr || url == nullptr || out == nullptr) return -1;
  std::string name = save_path;
  if (!name.empty() && (name.back() == '/')) {
    // The name comes from the URL as given (a space stays a space), less
    // its fragment, which is never sent.
    const std::string_view given = url;
    const std::string_view sent = given.substr(0, given.find('#'));
    if (!sent.empty() && sent.back() == '/') {
      name += "index.html";
    } else {
      const std::size_t last = sent.rfind('/');
      std::string part(last != std::string_view::npos ? sent.substr(last + 1) : sent);
      // Only the part from the URL loses its query: a '?' in a folder name
      // belongs to the folder.
      const std::size_t q = part.rfind('?');
      if (q != std::string::npos) part.resize(q);
      name += part;
    }
  }
  // A name that does not fit the caller's buffer is refused rather than cut:
  // a cut name would silently write a different file.
  if (name.size() >= TVN_PATH_CAPACITY) {
    out[0] = '\0';
    return -1;
  }
  std::memcpy(out, name.c_str(), name.size() + 1);
  return 0;
}

TORVANE_API int DiskIO_CheckFile(const char* path) {
  return path == nullptr ? 0 : torvane::platform::path_kind(path);
}

TORVANE_API int DiskIO_OpenFile(DiskIO* disk, const char* path) {
  if (disk == nullptr || path == nullptr || *path == '\0') return -1;
  // A folder that cannot be made shows when the file is opened.
  if (torvane::platform::make_parent_folders(path) == torvane::platform::kFileInTheWay) return -1;
  if (disk->file != 0) DiskIO_CloseHandle(disk);
  char* name = duplicate_text(path);
  if (name == nullptr) return -1;
  std::lock_guard<std::mutex> lock(g_opens_mutex);
  bool created = false;
  const torvane::platform::FileHandle handle = torvane::platform::file_open_write(path, &created);
  if (handle == 0) {
    std::free(name);
    return -1;
  }
  g_opens[handle] = created;
  std::free(disk->file_name);  // a name left from a closed file
  disk->file_name = name;
  disk->file = handle;
  return 0;
}

TORVANE_API int DiskIO_CloseHandle(DiskIO* disk) {
  return disk == nullptr ? -1 : close_item_file(*disk, false);
}

}  // extern "C"
