// What the download thread does with a division's complete response header:
// the status rules (accept, follow a redirect in place, error answers with
// attempts), the Content-Length rules (file size, single connection, a range
// the server ignored), notices 111, 102 and 104, and the move from the HEAD
// answer to the ranged GETs.
#pragma once

#include "engine/engine_state.h"
#include "torvane/torvane.h"

namespace torvane::engine {

// Handles the header waiting in division b's share, if it is complete.
// Returns false when the item was finished (the record is zeroed).
bool handle_header(EngineState& engine, int slot, ItemData& item, int b);

// A failed attempt of division b: closes its socket, empties its share, and
// sets status 0 with one attempt used, or 3 when fewer than 2 were left.
void fail_attempt(ItemData& item, int b);

// Computes the ranges from file_size, first lowering div_count to the file
// size so that no division gets an empty ("open end") range.
void compute_item_ranges(ItemData& item);

}  // namespace torvane::engine
