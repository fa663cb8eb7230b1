#include "core/queue/slot_record.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace torvane {

void zero_slot_record(ItemData& record) {
  EngineContext* const owner = record.owner;
  std::memset(reinterpret_cast<char*>(&record) + sizeof record.state, 0,
              sizeof(ItemData) - sizeof record.state);
  record.owner = owner;
  store_release(record.state, TVN_STATE_EMPTY);
}

int open_slot_file(ItemData& record, const EngineApi& api, const char* path) {
  return api.DiskIO_OpenFile(&record.disk, path);
}

void close_slot_file(ItemData& record, const EngineApi& api) {
  if (record.disk.file != 0) api.DiskIO_CloseHandle(&record.disk);
}

void SlotWriter::set_file_size(std::uint64_t size, WideSizes* wide) {
  // The whole value first: a reader that finds the field saturated takes it.
  if (wide != nullptr) store_release(wide->file_size, size);
  store_release(record_.disk.file_size, tvn_narrow_size(size));
}

bool SlotWriter::set_wide_sizes(const EngineApi& api, WideSizes* wide, const WideCopy& sizes) {
  if (wide == nullptr) return false;
  const std::size_t n = sizes.range_len.size();
  const auto block = [&](const std::vector<std::uint64_t>& values) {
    auto* copy =
        static_cast<std::uint64_t*>(api.GetMem(static_cast<unsigned>(n * sizeof(std::uint64_t))));
    if (copy != nullptr) std::copy(values.begin(), values.end(), copy);
    return copy;
  };
  std::uint64_t* len = block(sizes.range_len);
  std::uint64_t* done = block(sizes.range_done);
  if (len == nullptr || done == nullptr) {
    api.FreeMem(&len);
    api.FreeMem(&done);
    return false;
  }
  // No engine thread serves the slot: blocks still there are from a resume
  // that was refused before it took them.
  for (std::uint64_t** field : {&wide->range_len, &wide->range_done}) {
    std::uint64_t* old = load_acquire(*field);
    store_release(*field, nullptr);
    api.FreeMem(&old);
  }
  store_release(wide->file_size, sizes.file_size);
  store_release(wide->range_len, len);
  store_release(wide->range_done, done);
  return true;
}

void SlotWriter::point_url(char* text) {
  char* const old = load_acquire(record_.url);
  store_release(record_.url, text);
  if (old != text) strings_.release(old);  // a pointer the set does not own is left alone
}

bool SlotWriter::copy_request_url(std::string_view text) {
  char* const copy = strings_.copy(text, TVN_URL_CAPACITY);
  if (copy == nullptr) return false;
  point_url(copy);
  return true;
}

bool SlotWriter::own_item_url(const char* item_url) {
  if (load_acquire(record_.url) != item_url) return true;
  char* const copy = strings_.copy_url(item_url);
  if (copy == nullptr) return false;
  store_release(record_.url, copy);
  return true;
}

bool SlotWriter::own_save_folder(const char* item_folder) {
  if (load_acquire(record_.save_path) != item_folder) return true;
  char* const copy = strings_.copy(item_folder);
  if (copy == nullptr) return false;
  store_release(record_.save_path, copy);
  return true;
}

void SlotWriter::set_proxy(std::optional<std::string_view> text) {
  store_release(record_.proxy, text ? strings_.copy(*text) : nullptr);
}

void SlotWriter::set_referrer(std::optional<std::string_view> text) {
  store_release(record_.referer, text ? strings_.copy(*text) : nullptr);
}

void SlotWriter::set_user_agent(std::optional<std::string_view> text) {
  store_release(record_.user_agent, text ? strings_.copy(*text) : nullptr);
}

bool SlotWriter::set_extra_header(std::string_view lines) {
  char* const copy = lines.empty() ? nullptr : strings_.copy(lines);
  store_release(record_.extra_header, copy);
  return lines.empty() || copy != nullptr;
}

bool SlotWriter::set_validator(std::string_view validator) {
  char* const copy = strings_.copy(validator);
  if (copy == nullptr) return false;
  char* const old = load_acquire(record_.reserved_text);
  store_release(record_.reserved_text, copy);
  strings_.release(old);  // one the set does not own (none) is left alone
  return true;
}

bool SlotWriter::adopt_saved(const EngineApi& api, const ItemData* saved) {
  if (api.copy_itemdata(&record_, saved) == nullptr) {
    // copy_itemdata freed what it had made but left the saved record's plain
    // fields behind; an empty record keeps them from reaching the next item
    // that gets this slot, and without division arrays dl_resume refuses it.
    zero();
    return false;
  }
  // dl_resume takes up only a record that is not reserved.
  store_release(record_.state, TVN_STATE_EMPTY);
  // The copies live in the engine's heap and are the program's to free; the
  // open file's name is the engine's, which frees it when the item ends.
  for (char* text : {record_.url, record_.referer, record_.user_agent, record_.reserved_text,
                     record_.save_path, record_.proxy}) {
    strings_.adopt(text);
  }
  return true;
}

void SlotWriter::free_copies(const EngineApi& api) {
  api.free_itemdata(&record_);
  strings_.forget_all();
}

void SlotWriter::clear_owned_texts() {
  for (char** field : {&record_.url, &record_.referer, &record_.user_agent, &record_.reserved_text,
                       &record_.save_path, &record_.proxy, &record_.extra_header}) {
    if (strings_.owns(*field)) store_release(*field, nullptr);
  }
}

}  // namespace torvane
