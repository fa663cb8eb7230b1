// Starting a running item over from byte 0 when its answers show that the
// file on the server is not the one the item began with (another version,
// another size, or a body without a size) or when the size it holds is in
// doubt (asked again with a size probe), and the version (validator) the
// item's answers must carry.
//
// Download thread only, while it handles a division's answer header.
#pragma once

#include <string_view>

#include "engine/engine_state.h"
#include "torvane/torvane.h"

namespace torvane::engine {

// How many times one item may start over before it fails instead: a server
// that changes the file on every answer must not keep it looping.
constexpr int kMaxRestarts = 2;

// The validator the item's ranged requests carry as If-Range and its answers
// must match: the one the engine holds, else the client's If-Range line (a
// resume); empty when there is none. Either thread (see SlotAnswers).
std::string_view item_validator(const SlotAnswers& answers, const ItemData& item);

// Makes `validator` the one the item's answers must carry.
void hold_validator(EngineState& engine, int slot, std::string_view validator);

// Starts the item over: every division's connection closed, its bytes done
// and waiting bytes 0, its attempts renewed and its status 0; file_size set
// to `new_size` (0: unknown, then one division) and the ranges computed
// again; `validator` held from now on. Notice 401 says `reason` and that the
// item starts over. After kMaxRestarts the item fails instead (every division
// status 3, notice 401 with the reason).
void restart_item(EngineState& engine, int slot, ItemData& item, std::uint64_t new_size,
                  std::string_view validator, std::string_view reason);

// Asks the size again after a range inside the file was refused: every
// division back to byte 0 with no size, and division 0's GET from byte 0
// made the size probe (the others wait for its answer). The probe's answer
// is compared with the size held now (SlotAnswers::reprobe_size). Counts as
// a restart; once per item, and after kMaxRestarts the item fails with
// `reason` instead. Does nothing when the item has asked once already.
void reprobe_item(EngineState& engine, int slot, ItemData& item, std::string_view reason);

// Closes every division and sets status 3 (the item fails at the next
// completion check).
void fail_all_divisions(EngineState& engine, ItemData& item, int slot);

}  // namespace torvane::engine
