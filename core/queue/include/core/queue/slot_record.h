// The one place of the core that writes into an engine slot record
// (ItemData). Item settings, the cookie step, the target file and the slot
// table decide what a record gets; the calls here make the write.
//
// Ownership. Every text a live slot points at is the slot's own: after a
// fresh start the record's `url` and `save_path` are engine-heap copies of
// the ListItem's `url` and `save_folder`, and the referrer and proxy copies
// and a shortened first-request URL are engine-heap strings too, all held
// in the slot's SlotStrings. After a resume every text copy_itemdata
// duplicated is held there too (the validator in `reserved_text` among
// them), and so is the copy of the item's cookie and If-Range lines that
// `extra_header` points at. A validator learnt while the slot runs is a copy
// held there as well. The manager frees a slot's SlotStrings with the item's
// final notice or when its start is refused.
//
// Threads. Every field write is a release store, and every option change an
// atomic bit change, so that one writer serves both a reserved slot, which
// no engine thread reads and which the program fills with its lock held,
// and a running one during a notice, where an engine thread reads the
// fields afterwards (div_count, url, extra_header, options, file_size,
// reserved_text). Only zeroing writes the record plainly, state last.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/queue/slot_strings.h"
#include "core/system/engine_binding.h"
#include "core/system/record_sizes.h"
#include "torvane/shared_access.hpp"
#include "torvane/torvane.h"

namespace torvane {

// Zeroes `record` past its state and then its state, as the engine zeroes a
// slot it lets go: the owner stays, since a stop that comes at any moment
// finds the engine's lock by it.
void zero_slot_record(ItemData& record);

// Opens `path` as the record's output file (DiskIO_OpenFile): its result,
// 0 when open.
int open_slot_file(ItemData& record, const EngineApi& api, const char* path);
// Closes the record's output file when one is open.
void close_slot_file(ItemData& record, const EngineApi& api);

// Writes into one slot record whose texts `strings` holds.
class SlotWriter {
 public:
  SlotWriter(ItemData& record, SlotStrings& strings) : record_(record), strings_(strings) {}

  // For reading what was written; writes go through the calls below.
  const ItemData& record() const { return record_; }

  // The plain values of a fresh start.
  void set_data_type(int type) { store_release(record_.data_type, type); }
  void set_divisions(int count) { store_release(record_.div_count, count); }
  void set_buffer(int bytes) { store_release(record_.buffer_size, bytes); }
  void set_retry(int retry) { store_release(record_.retry, retry); }
  void set_auto_referer(int value) { store_release(record_.auto_referer, value); }
  // The file size in both forms: the record's field saturated, and the whole
  // value in the slot's WideSizes `wide` (null: none; a size of 4 GiB or
  // more then reads as TVN_SIZE_WIDE).
  void set_file_size(std::uint64_t size, WideSizes* wide);
  void add_options(std::uint32_t bits) { set_bits(record_.options, bits); }
  void drop_options(std::uint32_t bits) { clear_bits(record_.options, bits); }

  // Points `url` at `text` (the item's own field, or null); an earlier URL
  // the slot owns is freed.
  void point_url(char* text);
  void point_save_path(char* text) { store_release(record_.save_path, text); }
  // `url` becomes a slot copy of `text` in a full URL buffer (the engine may
  // write a redirect into it in place); false and unchanged when the copy
  // could not be made.
  bool copy_request_url(std::string_view text);
  // When `url` points at the item's field `item_url`, it becomes the slot's
  // own copy, remembered as the slot's item URL; the same for `save_path`
  // and `item_folder`. False, and the field unchanged, when that copy could
  // not be made.
  bool own_item_url(const char* item_url);
  bool own_save_folder(const char* item_folder);

  // A slot copy of the text, or null for none (and when the copy could not
  // be made).
  void set_proxy(std::optional<std::string_view> text);
  void set_referrer(std::optional<std::string_view> text);
  void set_user_agent(std::optional<std::string_view> text);
  // `extra_header` becomes a slot copy of `lines` (null for none). An
  // earlier copy is not freed: the connection thread may have read the
  // pointer already, and the slot keeps every copy to its end. False when
  // the copy could not be made (the field is null then).
  bool set_extra_header(std::string_view lines);
  // `reserved_text` becomes a slot copy of `validator`, and a different
  // earlier one the slot owns is freed. False, and the one learnt before
  // kept, when the copy could not be made.
  bool set_validator(std::string_view validator);

  // Adopts a copy of the saved record `saved` (copy_itemdata): its texts
  // are the slot's from here on, and its state is 0, which dl_resume takes
  // up. When the copy runs out of memory the record is zeroed instead
  // (copy_itemdata leaves the plain fields behind) and the result is false.
  bool adopt_saved(const EngineApi& api, const ItemData* saved);
  // The whole sizes of the adopted record into the slot's WideSizes `wide`
  // before dl_resume: its file size, and blocks of div_count values from the
  // engine heap that dl_resume takes over (blocks an earlier resume left
  // there go back first). False when there is no WideSizes or a block could
  // not be made.
  bool set_wide_sizes(const EngineApi& api, WideSizes* wide, const WideCopy& sizes);
  // A restored record given back: free_itemdata frees every text and array
  // its copy made, and the slot forgets the texts it had adopted.
  void free_copies(const EngineApi& api);
  // Every text field pointing at a string the slot owns becomes null,
  // before the strings go back.
  void clear_owned_texts();
  void zero() { zero_slot_record(record_); }

 private:
  ItemData& record_;
  SlotStrings& strings_;
};

}  // namespace torvane
