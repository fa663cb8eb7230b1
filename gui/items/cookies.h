// The cookie step of the response-header notice: what a profile's "Cookie"
// value does once a server has answered. The handler of notice 111 calls it
// whenever a profile holds "Cookie" (0 included), after the size step.
#pragma once

#include "gui/items/item_settings.h"
#include "gui/shell/list_item.h"
#include "gui/shell/slot_strings.h"
#include "torvane/torvane.h"

namespace torvane {

// Thread, lock and record rules as for on_header_received. `cookie_value` is
// the profile's "Cookie" value (never -1, which means absent). A restart may
// copy the item's division count back into `div_count`, never above
// `prepared_divisions`. 1 asks the engine to restart the division with the
// record as it stands, 0 lets it carry on.
//
// For now no cookie is taken: always 0.
int cookie_step(ItemData* record, ListItem& item, int cookie_value, int prepared_divisions,
                SlotStrings& strings, const ItemSettingsEnv& env);

}  // namespace torvane
