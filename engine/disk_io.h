// The disk layer: an item's output file and its receive buffer. It names the
// file from the save path and the URL, creates missing folders, opens without
// truncating, writes each division's waiting bytes at the division's absolute
// place in the file, and on close deletes a file that its own open created
// and that stayed empty, unless the item finished.
//
// The exported DiskIO_* functions are declared in torvane/torvane.h.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "platform/splice_pipe.h"
#include "torvane/torvane.h"

namespace torvane::engine {

// Allocates the four zeroed division arrays of `disk` for n divisions.
// 0, or 1 when memory runs out (what was allocated is freed again).
int allocate_disk_arrays(DiskIO& disk, int n);

// Frees the four division arrays and the buffer block and nulls them.
void release_disk_arrays(DiskIO& disk);

// Replaces the item's buffer block by a fresh one of `size` bytes and cuts
// it into shares (waiting data in the old block is dropped). 0 or -1.
int cut_buffer(ItemData& item, std::uint32_t size);

// write_division's result when the disk refused the bytes.
constexpr int kWriteRefused = -2;

// Writes division i's waiting bytes at its place in the file (whole sizes
// from the slot's WideSizes). Never writes past the division's range. 0 when nothing is left
// waiting; -1 when no file or buffer exists; kWriteRefused when the disk refused the bytes, which
// then stay in the share.
//
// A refused write ends the item, never one division: on a full disk (or
// quota) every unfinished division and the item get their stop flags, as
// dl_stop sets them, so the item ends with notice 109 and its record can be
// resumed once there is room; any other error sets state 6 and asks the
// download thread to finish the item (notice 108). Either way the reason,
// "disk full: <file>" or "<error text>: <file>", is raised once per item as
// notice 401, and no division is asked again for the bytes. Download thread
// (or a test without engine threads).
int write_division(EngineState& engine, int slot, ItemData& item, int i);

// Writes `size` bytes received for division i, straight from `data` rather
// than its share, at its place in the file, cut to its range as its share
// would be; a refused write ends the item as for write_division. 0, or
// kWriteRefused: the bytes that did not reach the file are dropped (they
// were never counted, so a resume asks for them again). Download thread.
int write_received(EngineState& engine, int slot, ItemData& item, int i, const char* data,
                   std::size_t size);

// Moves at most `size` bytes (cut to the range) waiting on division i's
// plain socket straight into the file at its place, through the engine's
// pipe, counting them as write_received does (a failed write_result has
// ended the item). `got` is kSpliceUnsupported when the share must take the
// read instead. Download thread.
platform::SpliceMove splice_received(EngineState& engine, int slot, ItemData& item, int i,
                                     std::size_t size);

// Opens the item's output file: notice 301 first (result -1 fails), then,
// unless a file is open, names it from save_path and url and opens it. On
// failure the item gets state 6 and, with `report_failure`, notice 108 is
// raised (a caller that finishes the item itself leaves it to the finishing
// step); result -1.
int open_item_file(EngineContext* ctx, int slot, ItemData& item, bool report_failure = true);

// Closes the file of `disk` and frees its name; DiskIO_CloseHandle is
// close_item_file(disk, false). The file is deleted only when all of these
// hold: `finished` is false, the open of this handle created it, it is an
// empty regular file, its name still names it, and no other open of the
// engine has it. A file that was there before, or that a finished item
// leaves (even an empty one), always stays. 0, or -1 when no file is open.
int close_item_file(DiskIO& disk, bool finished);

}  // namespace torvane::engine
