// The life of a slot inside the engine: preparing a started item, stopping
// one division, the completion check, and finishing an item (close, final
// notice, release, zero, notice 112).
//
// Thread rules: preparation, the state-2 stop and the finish of an item whose
// preparation failed run on the connection thread (preparation, for
// dl_resume, on the caller's thread while no engine thread serves the slot);
// everything else here runs on the download thread, which is the only thread
// that finishes an item in state 3 or 4.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace torvane::engine {

// States in which the engine threads serve an item.
inline bool is_running(int state) {
  return state == TVN_STATE_PROBING || state == TVN_STATE_DOWNLOADING;
}
inline bool is_running(ItemData& item) {
  return is_running(load_acquire(item.state));
}

// SpeedMode's size probe is under way: only division 0 is requested and read.
inline bool size_probe_running(std::uint32_t run_flags) {
  return (run_flags & (TVN_RUN_PROBE_PENDING | TVN_RUN_PROBE_SENT)) != 0 &&
         (run_flags & TVN_RUN_PROBE_DONE) == 0;
}

// Result of preparation: 0 ok, 1 out of memory, 2 the URL cannot be split
// or its host resolved.
constexpr int kPrepareOk = 0;
constexpr int kPrepareNoMemory = 1;
constexpr int kPrepareNoHost = 2;

// A started item gets at most this many divisions: more connections to one
// server only run out of descriptors and ask again and again.
constexpr int kMaxDivisions = 64;
// A division's share of the buffer is at most this many bytes (and at least
// kMinShare); a negative buffer_size counts as 0.
constexpr std::int64_t kMaxShare = 64 << 20;

// Preparation of a started item, `wide` being its slot's WideSizes. With
// `allocate` (dl_start's path) the division count is brought down to
// kMaxDivisions and the division arrays and whole sizes are made anew;
// without it (dl_resume of a saved record) the record's own count and arrays
// are used, and the whole sizes are taken from the record and the client's
// WideSizes (tvn_whole_size). The buffer is brought into range. Sets state 3,
// or 4 with probe_pending under SpeedMode, only when `set_state` is true.
int prepare_item(ItemData& item, WideSizes& wide, bool allocate, bool set_state);

// Frees the engine's blocks of the record (closing any socket left) and
// the whole-size arrays, nulls their pointers and zeroes the WideSizes;
// the client's texts are left alone.
void release_item(ItemData& item, WideSizes& wide);

// Zeroes the whole record field by field (another thread may be reading it)
// and publishes state 0 last.
void zero_record(ItemData& item);

// Finishing: close the file, notice 3, the final notice, release, zero,
// notice 112.
void finish_item(EngineState& engine, int slot, ItemData& item);

// finish_item for an item in state 3 to 6, with the connection thread kept
// out of the slot meanwhile (download thread).
void finish_running_item(EngineState& engine, int slot, ItemData& item);

// The state-2 stop: notice 109, zero the slot, notice 112.
void drop_stopped_item(EngineState& engine, int slot, ItemData& item);

// Finishes the item when every division it is waiting for has ended.
// Returns true when the item was finished.
bool completion_check(EngineState& engine, int slot, ItemData& item);

// Acts on div_stop[j] == 1: writes what waits, closes, status 2 when the
// range is complete else 3, then the completion check. True when finished.
bool stop_division(EngineState& engine, int slot, ItemData& item, int j);

}  // namespace torvane::engine
