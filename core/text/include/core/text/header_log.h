// The HTTP header log: one entry per request sent and per response header
// received, as the log pane shows them. Pure; any thread.
#pragma once

#include <array>
#include <cstddef>
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

// How many characters the log box holds. A small edit box's usual limit
// (about 32 K) is a few dozen entries, too few to look back over a
// download's redirects and retries; a million characters keeps thousands of
// entries and still lays out quickly.
inline constexpr std::size_t kHeaderLogLimit = 1'000'000;

// How many characters to remove from the start of a log box holding
// `current` before `added` more are appended: none while the total stays
// within `limit`, else as many as are added (all there is at most). Any
// unit, as long as the three agree.
std::size_t header_log_cut(std::size_t current, std::size_t added,
                           std::size_t limit = kHeaderLogLimit);

}  // namespace torvane
