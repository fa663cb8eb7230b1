// What the download thread does with a division's complete response header:
// the status rules (accept, follow a redirect in place, error answers with
// attempts), the Content-Length rules (file size, single connection, a range
// the server ignored, lengths that contradict each other), the version and
// size every answer must keep (else the item starts over), chunked bodies,
// notices 111, 102 and 104, and the move from the HEAD answer to the ranged
// GETs; a refused HEAD (405, 501) moves to a ranged GET from byte 0 as the
// size probe, and ranges the server refuses (416 inside the file, a 206
// that does not say which bytes it holds) have the size asked again or the
// item go on over one connection.
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

// Division b of the slot's item is receiving a chunked body (download
// thread).
bool chunked_division(EngineState& engine, int slot, int b);

// Decodes the chunked bytes that follow the first `from` bytes of division
// b's share, in place; buf_fill then counts payload bytes only. kBad is
// reported (notice 401) and leaves the share as it was: the caller fails
// the attempt.
ChunkDecoder::Result take_chunks(EngineState& engine, int slot, ItemData& item, int b,
                                 std::int32_t from);

// The connection of division b ended before the last chunk of its body.
bool chunks_cut_short(EngineState& engine, int slot, int b);

// Division b has its whole body: what waits is written, its connection
// closed, status 2, then the completion check. False when the item was
// finished.
bool end_division(EngineState& engine, int slot, ItemData& item, int b);

// Computes the ranges from file_size, first lowering div_count to the file
// size so that no division gets an empty ("open end") range.
void compute_item_ranges(const ItemSizes& sizes);

}  // namespace torvane::engine
