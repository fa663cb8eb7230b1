// The engine status read-outs for debugging: the threads' control bits and,
// per slot, the state and the division counters. Each function returns the
// text the status window shows for its button; the text grows with the
// number of slots and divisions.
//
// Reads the context and the slot records as a snapshot, with the same
// acquire loads the engine's own readers use; call it with the core's lock
// held so no slot is handed out meanwhile.
#pragma once

#include <string>

#include "torvane/torvane.h"

namespace torvane {

// "Torvane スレッド情報" with the pause and both threads' control bits.
std::string thread_status_text(EngineContext& context);

// "アイテム情報" with the limit, the slot count, the resize bits and every slot.
// `wide_of` gives a slot's WideSizes (the engine's dl_wide; null: none), so
// the bytes written read whole past 4 GiB.
std::string item_status_text(EngineContext& context, WideSizes* (*wide_of)(EngineContext*, int));

}  // namespace torvane
