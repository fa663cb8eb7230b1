// The HTTP header log: one entry per request sent and per response header
// received, as the log pane shows them. Pure; any thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace torvane {

// The three appends of one entry: the title line with the item's row (L),
// the slot (S) and the division (D); the request or header text as the
// engine passed it; the separator line. Empty pieces for a code other than
// 101 to 104.
std::array<std::string, 3> header_log_entry(int code, int row, int slot, int div,
                                            std::string_view text);

// An entry of the same shape for a note about the item that is neither a
// request nor a header: an engine message, a stall, a fallback.
std::array<std::string, 3> header_log_note(int row, int slot, int div, std::string_view text);

}  // namespace torvane
