#include "core/queue/list_item.h"

#include <new>

namespace torvane {

std::string_view file_name_of_url(std::string_view url) {
  const std::size_t slash = url.rfind('/');
  return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

ListItem* ItemList::at(std::int64_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

const ListItem* ItemList::at(std::int64_t index) const {
  return const_cast<ItemList*>(this)->at(index);
}

std::size_t ItemList::append(Growth growth) {
  if (items_.size() >= allocated_) allocated_ += growth == Growth::kByTen ? 10 : 1;
  items_.reserve(allocated_);
  items_.push_back(std::make_unique<ListItem>());
  return items_.size() - 1;
}

std::unique_ptr<ListItem> ItemList::take(std::size_t k) {
  if (k >= items_.size()) return nullptr;
  std::unique_ptr<ListItem> item = std::move(items_[k]);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(k));
  --allocated_;
  return item;
}

std::vector<std::unique_ptr<ListItem>> ItemList::take_all() {
  std::vector<std::unique_ptr<ListItem>> all = std::move(items_);
  items_.clear();
  allocated_ = 0;
  return all;
}

int SlotMap::grow(int limit) {
  if (limit < 0 || static_cast<std::size_t>(limit) <= entries_.size()) return 0;
  try {
    entries_.resize(static_cast<std::size_t>(limit) + 10, kNoSlot);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return 0;
}

std::int32_t SlotMap::item_of(int slot, std::size_t used) const {
  if (slot < 0 || static_cast<std::size_t>(slot) >= entries_.size()) return kNoSlot;
  const std::int32_t item = entries_[static_cast<std::size_t>(slot)];
  // An entry equal to the used count names no item: the list has shrunk.
  if (item < 0 || static_cast<std::size_t>(item) >= used) return kNoSlot;
  return item;
}

void SlotMap::link(int slot, std::int32_t item) {
  if (slot < 0 || static_cast<std::size_t>(slot) >= entries_.size()) return;
  entries_[static_cast<std::size_t>(slot)] = item;
}

void SlotMap::item_removed(std::int32_t k) {
  for (std::int32_t& entry : entries_) {
    if (entry == k) {
      entry = kNoSlot;
    } else if (entry > k) {
      --entry;
    }
  }
}

}  // namespace torvane
