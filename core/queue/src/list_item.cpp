#include "core/queue/list_item.h"

#include <new>

namespace torvane {

std::string_view file_name_of_url(std::string_view url) {
  // As the engine names the file: never from the fragment, and the name
  // after the last '/' without its query.
  url = url.substr(0, url.find('#'));
  const std::size_t slash = url.rfind('/');
  std::string_view name = slash == std::string_view::npos ? url : url.substr(slash + 1);
  return name.substr(0, name.rfind('?'));
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

}  // namespace torvane
