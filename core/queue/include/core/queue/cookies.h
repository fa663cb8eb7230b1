// The cookie step of the response-header notice: what a profile's "Cookie"
// value does once a server has answered. The handler of notice 111 calls it
// whenever a profile holds "Cookie" (0 included), after the size step.
//
// The first "Set-Cookie: " line of the answer (first letter exact, the rest
// in any case) becomes the item's cookie line, "Cookie: <value>\r\n" with
// the value's "path=" and "domain=" attributes taken out and everything from
// "expires=" on dropped. The engine adds it to every later GET of the item.
//
// Values: 0 or negative: the line is built, nothing else. 1 or more, while
// the run's first request is still an in-memory fetch: the request is
// restarted, now with the cookie, to the item's own URL (2 and more had sent
// the first request to a shortened URL), and the output file that dl_start
// skipped is opened. A run restarts at most once: the restart ends the
// in-memory fetch.
#pragma once

#include <cstddef>

#include "core/queue/item_settings.h"
#include "core/queue/list_item.h"
#include "core/queue/slot_strings.h"
#include "torvane/torvane.h"

namespace torvane {

// A Set-Cookie value longer than this is not taken: a cut cookie is a broken
// header, and no server we want to talk to sends one this long.
inline constexpr std::size_t kMaxCookieValue = 8 * 1024;

// Thread, lock and record rules as for on_header_received. `cookie_value` is
// the profile's "Cookie" value (never -1, which means absent).
//
// The engine's `extra_header` points at an engine-heap copy of the line held
// by `strings`, never into the item: the connection thread may still hold
// the previous pointer, so every copy made during the run stays alive until
// the slot is free. The item's `cookie_line` holds the same text for the
// list file and a later resume.
//
// Result: 1 asks the engine to restart the division with the record as it
// stands; 0 lets it carry on; -1 when the restart needs the output file and
// it could not be opened (the existing-file policy refused it, say): the
// division count is set to 1 so that this failed division ends the item,
// instead of a download with nowhere to write. A restart copies the item's
// division count back into `div_count`, never above `prepared_divisions`.
int cookie_step(ItemData* record, ListItem& item, int cookie_value, int prepared_divisions,
                SlotStrings& strings, const ItemSettingsEnv& env);

}  // namespace torvane
