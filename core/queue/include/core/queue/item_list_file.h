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
// Sizes of 4 GiB and more: the record's 32-bit size fields hold them
// saturated (TVN_SIZE_WIDE), and the whole values follow its arrays, before
// the terminator: the tag kItemListWideTag, then a block (its length and
// bytes) of the division count (32-bit) and the file size, each range's
// length and each range's bytes done (64-bit little-endian). Only a record
// with a saturated field has it; files written before such sizes were
// possible never do (their arrays are always followed by the terminator),
// and one of their fields that holds 0xFFFFFFFF means just that. A block
// that does not belong to its record (another count, or a value that does
// not saturate to its field) is damage: the item is kept without its saved
// record, as for any other damage to the record.
//
// Framing: every record is written inside a frame of its own, the mark
// kItemListFrameMark, the length of the record, a CRC-32 of that length and
// fields 1-7, and a CRC-32 of the rest (fields 8-20 and the terminator),
// then the record as above. The lengths inside a record say where its next
// field is, so without a frame one damaged length hides every record behind
// it; with one, a damaged record costs that record only: the reading goes
// on at the next mark whose frame checks. A frame whose item fields check
// but whose rest does not (or is cut off) keeps the item, waiting, without
// its saved record: it downloads again from the start, which loses less
// than dropping it. A record without a frame (files written before frames
// were) reads as it always did; after damage to one, the reading goes on at
// the next place a whole record reads. Files with frames are not read by
// versions that predate them.
//
// The codec is pure; the file wrappers add the reading, the setting aside of
// a damaged file and the atomic replacement. Nothing here locks: the caller
// owns the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/queue/list_item.h"
#include "core/system/clock.h"
#include "core/system/engine_binding.h"

namespace torvane {

inline constexpr std::string_view kItemListFileName = "test.tvn";
inline constexpr std::string_view kItemListHeader = "Torvane idata Ver0.0\r\n\r\n";
inline constexpr std::string_view kItemListRecordEnd = "\r\n\r\n";
// Begins every framed record; no record without a frame begins so (its first
// field is an integer: the length 4).
inline constexpr std::string_view kItemListFrameMark = "\x7FTVR";
inline constexpr std::size_t kItemListFrameSize = 16;  // mark, length, two CRC-32s
// Begins the whole sizes after a saved record's arrays; no terminator does.
inline constexpr std::string_view kItemListWideTag = "\x7FTVW";

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

// A running item's progress so far (read from its slot), with its whole
// sizes (empty, or null, below 4 GiB).
struct ProgressRecord {
  const ItemData* record = nullptr;
  const WideCopy* wide = nullptr;
};

// The whole file for `list`, in list order, each record framed. With
// `running_as_waiting`, items in states 1 to 4 are stored as waiting (0), so
// a list saved while items run never comes back in a half-run state; the
// final write passes false. `progress[k]`, when there and its record not
// null, is stored as item k's saved record in place of its own `saved` and
// `saved_wide`. A saved record whose div_count is outside
// 1..kMaxStoredDivisions, or that has a saturated size without whole sizes
// that belong to it, is left out (the item restarts) because the reader
// would refuse it.
std::string encode_item_list(const ItemList& list, bool running_as_waiting,
                             std::span<const ProgressRecord> progress = {});

// What a reading could not take whole.
struct ItemListDamage {
  int unreadable = 0;      // records left out: nothing of them could be trusted
  int without_record = 0;  // items kept without their saved record
  bool any() const { return unreadable > 0 || without_record > 0; }
};

// Appends the items stored in `bytes` to `list` (one Growth::kByOne append
// per item). Never reads outside `bytes` and never trusts a stored length: a
// record that does not read (or whose frame does not check) is dropped with
// everything it allocated and counted in `damage`; the reading goes on at
// the next record that reads. Saved records are built in the engine's heap
// through `api` (GetMem) and owned by the item's `saved`; a saved record
// with a saturated size gets its `saved_wide` (from its whole sizes, or from
// the fields themselves in a file written before them). Returns 0.
int decode_item_list(std::string_view bytes, ItemList& list, const EngineApi& api,
                     ItemListDamage* damage = nullptr);

// Reads the file at `path` into `list`. 0, or -1 when it cannot be read (a
// missing file too), the list then unchanged. The file is never changed.
int read_item_list(const std::string& path, ItemList& list, const EngineApi& api,
                   ItemListDamage* damage = nullptr);

// Moves a damaged list file aside, unchanged, to
// "<path>.damaged-YYYYMMDD-HHMMSS" (local time `now`; "-2", "-3", ... when
// that name is taken: an older one is never replaced). The new name, or ""
// when it could not be moved (the file is then where it was).
std::string set_damaged_list_aside(const std::string& path, const LocalTime& now);

// Replaces the file at `path` with the encoding of `list` through a temporary
// file renamed over it, so a crash keeps the previous list; `synced` as for
// platform::write_file_atomic. 0 or -1.
int write_item_list(const std::string& path, const ItemList& list, bool running_as_waiting,
                    std::span<const ProgressRecord> progress = {}, bool synced = true);

}  // namespace torvane
