// Item settings: what a download carries into the engine besides its URL,
// save folder and division count comes from the server profiles (section
// "TVNBASICDATA" of the host's profile, then of the default profile). This
// file fills a reserved engine slot from an item and its profiles, and
// answers the engine's "response header parsed" notice (111) with the size
// step, the "FileSize" correction and the cookie step. These decide what
// the record gets; a SlotWriter (slot_record.h, which also says which texts
// the slot owns) makes each write.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/queue/list_item.h"
#include "core/queue/slot_strings.h"
#include "core/settings/ini_access.h"
#include "core/settings/settings.h"
#include "core/system/clock.h"
#include "core/system/engine_binding.h"
#include "torvane/torvane.h"

namespace torvane {

// Values a front end gives for one run that count as profile keys: `forced`
// over every profile (a command line's user agent, header lines, attempts,
// stall time-out), and the environment's proxies (http_proxy, https_proxy,
// no_proxy) for the URLs whose profiles name none.
struct RunProfile {
  std::map<std::string, std::string, std::less<>> forced;
  std::string http_proxy;
  std::string https_proxy;
  std::string no_proxy;
};

struct ItemSettingsEnv {
  const ProgramFolder& folder;  // "Servers.ini" and the profile files
  const IniAccess& ini;         // the program INI: the "Divide" size table
  const EngineApi& api;         // copy_itemdata and the engine heap
  const Clock& clock;           // the start tick
  // The existing-file policy, for the cookie step that opens the file a
  // page fetch had skipped; none: the file is left for the engine to open.
  const ProgramSettings* settings = nullptr;
  // Receives one text per value a fresh start brought into range, naming
  // the value used; none: nobody is told.
  std::vector<std::string>* notes = nullptr;
  // This run's own profile values; none: the profiles alone.
  const RunProfile* run = nullptr;
};

// What an absent "Retry" and "BufferSize" mean.
inline constexpr int kDefaultRetry = 5;
inline constexpr int kDefaultBufferPerDivision = 40000;
// The ranges a fresh start brings its values into: the division count
// (the item's own or "Div"; 0 means 1 without a word), "BufferSize" per
// division, and "Retry" (attempts; any count from 0 up).
inline constexpr int kMaxDivisions = 64;
inline constexpr int kMinBufferPerDivision = 4096;
inline constexpr int kMaxBufferPerDivision = 64 << 20;

// Fills the reserved slot `record` (state 1) from item `item`.
//
// Thread: whichever thread starts items (the GUI thread or an engine thread
// running a scheduler pass), with the manager's lock held. The engine
// threads leave a reserved slot alone, so nothing reads the record while it
// is filled.
//
// `wide` is the slot's WideSizes (null: none).
//
// Result 1: the item was waiting to resume (slot link -3 with a saved
// record). The saved record is copied into `record` with copy_itemdata, its
// state set to 0, its strings adopted by `strings`, `extra_header` pointed
// at a slot-owned copy of the item's cookie line (null when there is none)
// and the saved record
// released, and its whole sizes (saved_wide, for a file of 4 GiB or more)
// go into `wide` (SlotWriter::set_wide_sizes). No profile is read but the
// stall rule (see below). When the
// record has a validator (see
// remember_validator), `extra_header` also carries one line
// "If-Range: <validator>\r\n" after the cookie line, so the engine goes on
// only in the version of the file it began with. The item's byte mark for
// the speed is set to the bytes the record has in the file, and the item
// keeps its target path (the file the resume goes on in).
// The caller then calls dl_resume with -1.
// Should the copy run out of memory, or the whole sizes find no room (or no
// WideSizes), the record is left empty (no division arrays, so dl_resume
// refuses it like any refused start) and the item keeps its saved record
// for a later try; the result is 1 all the same.
//
// Result 0: a fresh start from the profiles; the item's target path and
// byte mark are cleared; the item's URL and save folder
// may be rewritten for good ("URL", "Host", "SAVE"), and its division count,
// division-from-profile flag, URL-jump mark and skip count are set. The
// caller then calls dl_start. A failed copy of the referrer or the proxy
// leaves that field null; a failed shortened URL leaves `url` on the item's.
//
// Either way the item's stall rule ("StallTimeout" in seconds, default 60,
// 0 never; "MinSpeed" in bytes per second, default 1, 0 no floor; negative
// values are the defaults, a timeout is cut to a day and a floor to 1 GiB/s)
// is read from the profiles and its stall note cleared, the item's start
// tick is set from the clock first, and when
// the start opens a file (a resume, or a start without an in-memory first
// request) the item's `opening` is set to `record`, so that the open notice
// raised inside the start finds the item.
int apply_item_settings(ItemData* record, WideSizes* wide, ListItem& item, SlotStrings& strings,
                        const ItemSettingsEnv& env);

// The handler of notice 111 (a response header was parsed) for the slot
// whose record is `record` and whose item is `item` (null when the slot is
// no longer linked to one: result 0). `wide` is the slot's WideSizes (null
// for none: a size of 4 GiB or more then reads as TVN_SIZE_WIDE, and a
// corrected one is stored saturated alone). `prepared_divisions` is the
// division count the engine prepared the slot's arrays for; `div_count`
// never grows above it here.
//
// Acts only while the record probes (state 3) or downloads with its probe
// sent (state 4 with TVN_RUN_PROBE_SENT). Then, when the engine reported a
// file size: the size table may change the division count (not when the
// count came from a profile's "Div"), and "FileSize" corrects the size.
// Last the cookie step runs when a profile has "Cookie".
//
// Thread: the engine's download thread during the notice, with the manager's
// lock held. Record fields the engine's other thread reads (div_count,
// file_size and its whole value) are written with release stores.
//
// Result: 1 asks the engine to restart this division with the record as it
// now stands, 0 lets it carry on, -1 fails the division (the cookie step
// could not open the file its restart would write to).
int on_header_received(ItemData* record, WideSizes* wide, ListItem* item, int prepared_divisions,
                       SlotStrings& strings, const ItemSettingsEnv& env);

// The validator of an answer whose header is `header` (from its status line
// to the blank line; a cut header reads as far as it goes): the strong
// ETag's value as sent (quotes and all), else the Last-Modified value. None
// for an answer other than 200 or 206, for a weak ETag without a
// Last-Modified, and for a value with control bytes or over 1024 bytes.
std::optional<std::string> answer_validator(std::string_view header);

// The validator step of notice 111: the answer division `div` of `record`
// has just been parsed, and its share still starts with its header. When
// the answer has a validator, it becomes the record's `reserved_text` (a
// copy owned by `strings`; a different earlier one is freed): the engine
// starts an item over when a later answer's validator differs, so the last
// one learnt is the one the file's bytes belong to. The stop's copy keeps
// it, and a resume sends it back as If-Range (see apply_item_settings).
//
// Thread: the engine's download thread during the notice, with the
// manager's lock held.
void remember_validator(ItemData* record, int div, SlotStrings& strings);

// The largest size a "FileSize" value gives: 2^62 bytes, far past any file
// system, and what the engine takes from a server at most.
inline constexpr std::uint64_t kMaxFileSizeValue = std::uint64_t{1} << 62;

// Applies a "FileSize" value to a reported size: "+N" adds N, "-N" subtracts
// N, anything else sets the size to its number. N is the run of decimal
// digits at the start (after the sign); N and the results saturate at 0 and
// kMaxFileSizeValue. A value without such digits ("+abc", "", "abc") leaves
// the size as it was.
std::uint64_t apply_file_size_value(std::uint64_t size, std::string_view value);

}  // namespace torvane
