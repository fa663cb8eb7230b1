// The program's side of the engine's slot array: one record per slot (the
// item linked to it, the strings it holds, the division count its arrays
// were prepared for, whether its final notice has come, the stall marks).
// What the manager does to an engine slot record goes through here: filling
// it from an item, copying it back at a stop, zeroing it the way the engine
// does, the limit change handshake; each write itself is a SlotWriter's
// (slot_record.h). Progress is read from a running slot here too, every
// shared word through an acquire load.
//
// Not synchronised: the manager calls it under its lock. The engine threads
// go on writing the slot records meanwhile; see each call for what it may
// touch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/queue/item_settings.h"
#include "core/queue/list_item.h"
#include "core/queue/slot_record.h"
#include "core/queue/slot_strings.h"
#include "core/queue/stall_watch.h"
#include "core/system/engine_binding.h"

namespace torvane {

// One division of a downloading slot, as the detail rows show it.
struct DivisionRow {
  int status = 0;
  int tries = 0;  // the attempt under way, from 1 up to `retry`
  int retry = 0;
  std::int64_t done = 0;  // in the file plus in the share
  std::uint64_t length = 0;
};

// A running slot's progress as a stop would keep it (see copy_progress).
class ProgressCopy {
 public:
  const ItemData* record() const { return &record_; }
  // Its whole sizes (empty below 4 GiB), as a stop keeps them.
  const WideCopy& wide() const { return wide_; }

 private:
  friend class SlotTable;
  // Each division's bytes in the file (cut to its range) and attempts left;
  // a division with all its bytes is done, any other is asked again. The
  // bytes in the file.
  std::uint64_t copy_divisions(const RecordSizes& sizes, std::int32_t* retries, int count);
  ItemData record_{};
  std::vector<std::int32_t> status_, retries_;
  std::vector<std::uint32_t> len_, done_;
  WideCopy wide_;
};

class SlotTable {
 public:
  explicit SlotTable(EngineBinding& binding) : binding_(binding) {}
  SlotTable(const SlotTable&) = delete;
  SlotTable& operator=(const SlotTable&) = delete;

  // Grows to limit + 10 records when the limit exceeds the size; never
  // shrinks. 0, or -1 when memory ran out (size unchanged).
  int grow(int limit);
  std::size_t size() const { return slots_.size(); }
  bool has(int slot) const { return slot >= 0 && static_cast<std::size_t>(slot) < slots_.size(); }
  // The engine's record of `slot`, or nullptr.
  ItemData* record(int slot) { return binding_.slot(slot); }
  // The slot's strings, or nullptr outside the table.
  SlotStrings* strings(int slot) { return has(slot) ? &at(slot).strings : nullptr; }

  // Links. The item index linked to `slot`, or -1 when the slot is outside
  // the table or its entry is negative or not below `used`.
  int item_of(int slot, std::size_t used) const;
  void link(int slot, int item);
  void unlink(int slot) { link(slot, kNoSlot); }
  // After item k was removed: links to k become -1, later ones drop by one.
  void item_removed(int k);

  // A slot reserved for a start (state 1), or -1. A slot whose final notice
  // has come is waited for (bounded) until the engine has zeroed it, except
  // on an engine thread, which may be the one that zeroes it.
  int reserve();
  // Fills the reserved slot from `item` (see apply_item_settings); after a
  // fresh start the record's URL and save folder are the slot's own copies.
  // 1 for a resume, 0 for a fresh start.
  int fill(int slot, ListItem& item, const ItemSettingsEnv& env);
  // A refused start: the slot's strings (or a restored record's copies) go
  // back, its file is closed and the record zeroed for the next item.
  void give_back(int slot, bool resumed);
  // The final notice of `slot` has come: every string the program handed
  // it goes back, and the slot counts as ending until it is reserved again.
  void end(int slot);
  // At the program's end, after torvane_end freed every record's copies.
  void forget_strings();

  // The answer of notice 111 for `item` in `slot` (see on_header_received),
  // after which a record that points at the item's own URL field points at
  // the slot's copy instead. -1 when that copy could not be made.
  int header_received(int slot, ListItem* item, const ItemSettingsEnv& env);
  // Notice 111's validator step for division `div`.
  void take_validator(int slot, int div);

  // A stopped slot's record copied for a later resume, with every
  // unfinished division to be resumed, and its whole sizes into `wide`
  // (empty below 4 GiB); none when it has nothing to resume from (no
  // division arrays, no byte in its file, or sizes of 4 GiB or more whose
  // whole values the engine did not give).
  SavedRecord copy_back(int slot, WideCopy& wide);
  // A running slot's progress as a stop would keep it, for the list file;
  // false when it has nothing to resume from.
  bool copy_progress(int slot, ProgressCopy& out);

  // Reading a slot while the engine runs it (acquire loads).
  int state(int slot);
  // Connections a probing (1) or downloading (its divisions) slot holds.
  int connections(int slot);
  // The bytes the slot holds (see bytes_done); none when it is not linked
  // or its arrays are gone.
  std::optional<std::uint64_t> bytes(int slot, bool finished_whole, bool waiting = true);
  // The progress text's figures of a downloading slot once its size is
  // known: bytes done and the file size.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> sized_progress(int slot);
  // The divisions of a downloading slot; empty while its arrays are gone.
  std::vector<DivisionRow> division_rows(int slot);

  // The divisions of `slot` that stalled under `rule` (see StallWatch); the
  // marks of a slot that is not checked between two sweeps are forgotten.
  std::vector<StallVerdict> check_stalls(int slot, std::uint64_t run, const StallRule& rule,
                                         std::uint32_t now_ms);
  void sweep_stalls();

  // The limit change: the new limit stored and the engine asked to resize.
  void request_limit(int limit);
  // At the engine's resized notice: the limit, and whether it took it.
  std::pair<bool, int> limit_result();

 private:
  struct Slot {
    explicit Slot(const EngineApi* api) : strings(api) {}
    int item = kNoSlot;
    SlotStrings strings;
    int prepared_divisions = 0;  // what the engine prepared its arrays for
    // Its final notice has come since it was last reserved: the engine
    // zeroes such a slot right after the notice, without the manager's lock.
    bool ending = false;
    StallMarks stall;
  };
  Slot& at(int slot) { return slots_[static_cast<std::size_t>(slot)]; }
  const Slot& at(int slot) const { return slots_[static_cast<std::size_t>(slot)]; }
  bool any_ending();

  EngineBinding& binding_;
  std::vector<Slot> slots_;
};

}  // namespace torvane
