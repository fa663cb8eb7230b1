#include "core/queue/list_store.h"

#include <memory>
#include <vector>

#include "core/queue/item_list_file.h"
#include "platform/file.h"

namespace torvane {

namespace {

// A running item's progress goes into the list file at most this often.
constexpr std::uint32_t kProgressSaveMs = 2000;

std::string damage_text(const ItemListDamage& damage, const std::string& path,
                        const std::string& kept_as) {
  std::string text = path + " was damaged.";
  if (damage.unreadable > 0) {
    text += " " + std::to_string(damage.unreadable) +
            (damage.unreadable == 1 ? " download could not be read and is"
                                    : " downloads could not be read and are") +
            " left out.";
  }
  if (damage.without_record > 0) {
    text += " " + std::to_string(damage.without_record) +
            (damage.without_record == 1 ? " download lost its" : " downloads lost their") +
            " progress and start" + (damage.without_record == 1 ? "s" : "") + " again.";
  }
  text += kept_as.empty() ? " It could not be moved aside and is not written to in this run."
                          : " The damaged file is kept as " + kept_as + ".";
  return text;
}

std::uint64_t written_in_slots(const ItemList& items, SlotTable& slots) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ListItem& item = *items.at(static_cast<std::int64_t>(i));
    if (item.slot_link >= 0 && slots.state(item.slot_link) == TVN_STATE_DOWNLOADING) {
      sum += slots.bytes(item.slot_link, false, false).value_or(0);
    }
  }
  return sum;
}

}  // namespace

int ListStore::load(ItemList& items, SlotTable& slots, const EngineApi& api,
                    std::vector<std::string>* messages) {
  ItemListDamage damage;
  const int result = read_item_list(path_, items, api, &damage);
  if (result != 0 && platform::path_kind(path_.c_str()) != 0) {
    // There but not readable: an empty list written over it would lose it.
    held_ = true;
    messages->push_back(path_ +
                        " could not be read; it is left as it is and not written in this run.");
  }
  if (damage.any()) {
    // The damaged file is moved aside as it is, never rewritten: what could
    // not be read may still be rescued from it. The list file then holds
    // what was read, at once. A file that cannot be moved is not replaced.
    const std::string kept_as = set_damaged_list_aside(path_, clock_.local_time());
    held_ = kept_as.empty();
    write(items, slots, true);
    messages->push_back(damage_text(damage, path_, kept_as));
  }
  return result;
}

int ListStore::write(const ItemList& items, SlotTable& slots, bool running_as_waiting,
                     bool synced) {
  if (held_) return -1;
  // An empty queue is no file at all: a folder whose downloads are all done
  // keeps nothing of them.
  if (items.empty())
    return platform::path_kind(path_.c_str()) == 0 ? 0 : platform::remove_file(path_.c_str());
  std::vector<std::unique_ptr<ProgressCopy>> copies;
  std::vector<ProgressRecord> progress(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ListItem& item = *items.at(static_cast<std::int64_t>(i));
    // A page whose link was taken is not resumed (as at a stop), and a
    // record without its file has nothing to go on in.
    if (item.slot_link < 0 || item.url_jump == kJumpTaken || item.target_path.empty()) continue;
    auto copy = std::make_unique<ProgressCopy>();
    if (!slots.copy_progress(item.slot_link, *copy)) continue;
    progress[i] = {copy->record(), &copy->wide()};
    copies.push_back(std::move(copy));
  }
  return write_item_list(path_, items, running_as_waiting, progress, synced);
}

void ListStore::save_if_due(const ItemList& items, SlotTable& slots, std::uint32_t now_ms) {
  // At most once a second, and only after a change, so a killed program
  // comes back with its queue and without the items it had finished. Bytes
  // that reached a running item's file are such a change every few seconds:
  // the program comes back with them.
  const std::uint64_t written = written_in_slots(items, slots);
  const bool progressed = written != saved_written_ && now_ms - last_save_tick_ >= kProgressSaveMs;
  if (!dirty_ && !progressed) return;
  if (saved_before_ && now_ms - last_save_tick_ < 1000) return;
  dirty_ = false;
  saved_before_ = true;
  last_save_tick_ = now_ms;
  saved_written_ = written;
  // Not synced: this runs under the manager's lock, which every engine
  // notice waits for, and a sync while downloads write fast held them up to
  // 0.3 s. A killed program loses nothing by it (the system still holds the
  // bytes); the saves at a stop and at the end are synced.
  write(items, slots, true, /*synced=*/false);
}

}  // namespace torvane
