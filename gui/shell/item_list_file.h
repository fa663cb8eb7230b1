// The item list file ("test.tvn"): the download list kept across a restart.
//
// Layout (every number 32-bit little-endian): the header
// "Torvane idata Ver0.0\r\n\r\n" before the first record only (an empty list
// is a 0-byte file), then per item its fields and "\r\n\r\n". Integer fields
// are the length 4 and the value; text and block fields are a length n and n
// bytes. Fields 1-7: state, division text, save folder, URL, URL-jump mark,
// skip count, cookie line. Fields 8-20, only for an item holding a saved
// engine record: the record in its 148-byte stored form (pointer and handle
// slots 0), five of its texts (referer, user agent, reserved text (the
// answer's validator), proxy, disk file name: the record's, else the item's
// target path, which reads back into both) and its seven division arrays.
//
// The codec is pure; the file wrappers add the reading and the atomic
// replacement. Nothing here locks: the caller owns the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gui/shell/engine_binding.h"
#include "gui/shell/list_item.h"

namespace torvane {

inline constexpr std::string_view kItemListFileName = "test.tvn";
inline constexpr std::string_view kItemListHeader = "Torvane idata Ver0.0\r\n\r\n";
inline constexpr std::string_view kItemListRecordEnd = "\r\n\r\n";

// Size of an ItemData in the file, whatever the pointer width of the build.
inline constexpr std::size_t kStoredItemDataSize = 148;
// A stored record claiming more divisions than this is taken as damage.
inline constexpr std::int32_t kMaxStoredDivisions = 4096;
// The cookie line and the texts of a saved record (referer, proxy, ...) are
// kept whole up to this many bytes when read; a longer one is left out.
inline constexpr std::size_t kMaxStoredHeapText = 64 * 1024;

// The 148-byte stored form of `record`: its integer fields and the socket
// address in the 32-bit order, little-endian; every pointer and handle 0.
std::string encode_stored_item_data(const ItemData& record);

// The reverse: sets the integer fields and the socket address of `record`
// from a 148-byte stored form and leaves every pointer and handle as it is.
// Does nothing when `stored` is not 148 bytes.
void decode_stored_item_data(std::string_view stored, ItemData& record);

// The whole file for `list`, in list order. With `running_as_waiting`, items
// in states 1 to 4 are stored as waiting (0), so a list saved while items
// run never comes back in a half-run state; the final write passes false.
// A saved record whose div_count is outside 1..kMaxStoredDivisions is left
// out (the item restarts) because the reader would refuse it.
std::string encode_item_list(const ItemList& list, bool running_as_waiting);

// Appends the items stored in `bytes` to `list` (one Growth::kByOne append
// per item). Never reads outside `bytes` and never trusts a stored length:
// a record that is cut off or malformed ends the reading and is dropped with
// everything it allocated; every complete record before it is kept.
// Saved records are built in the engine's heap through `api` (GetMem) and
// owned by the item's `saved`. Returns 0.
int decode_item_list(std::string_view bytes, ItemList& list, const EngineApi& api);

// Reads the file at `path` into `list`. 0, or -1 when it cannot be read (a
// missing file too), the list then unchanged.
int read_item_list(const std::string& path, ItemList& list, const EngineApi& api);

// Replaces the file at `path` with the encoding of `list` through a temporary
// file renamed over it, so a crash keeps the previous list. 0 or -1.
int write_item_list(const std::string& path, const ItemList& list, bool running_as_waiting);

}  // namespace torvane
