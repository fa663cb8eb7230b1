#include "gui/shell/slot_strings.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace torvane {

SlotStrings::SlotStrings(SlotStrings&& other) noexcept
    : api_(other.api_), owned_(std::move(other.owned_)) {
  other.owned_.clear();
}

SlotStrings& SlotStrings::operator=(SlotStrings&& other) noexcept {
  if (this != &other) {
    release_all();
    api_ = other.api_;
    owned_ = std::move(other.owned_);
    other.owned_.clear();
  }
  return *this;
}

char* SlotStrings::copy(std::string_view text, unsigned capacity) {
  if (api_ == nullptr) return nullptr;
  const unsigned size = std::max<unsigned>(static_cast<unsigned>(text.size()) + 1, capacity);
  auto* out = static_cast<char*>(api_->GetMem(size));
  if (out == nullptr) return nullptr;
  std::memcpy(out, text.data(), text.size());  // GetMem zero-fills, so the NUL is there
  owned_.push_back(out);
  return out;
}

void SlotStrings::adopt(char* text) {
  if (text != nullptr && !owns(text)) owned_.push_back(text);
}

void SlotStrings::release(char* text) {
  auto it = std::find(owned_.begin(), owned_.end(), text);
  if (it == owned_.end()) return;
  owned_.erase(it);
  if (api_ != nullptr) api_->FreeMem(&text);
}

void SlotStrings::release_all() {
  for (char* text : owned_) {
    if (api_ != nullptr) api_->FreeMem(&text);
  }
  owned_.clear();
}

bool SlotStrings::owns(const char* text) const {
  return text != nullptr && std::find(owned_.begin(), owned_.end(), text) != owned_.end();
}

}  // namespace torvane
