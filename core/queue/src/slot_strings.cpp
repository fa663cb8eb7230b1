#include "core/queue/slot_strings.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace torvane {

SlotStrings::SlotStrings(SlotStrings&& other) noexcept
    : api_(other.api_), owned_(std::move(other.owned_)), url_(other.url_) {
  other.owned_.clear();
  other.url_ = nullptr;
}

SlotStrings& SlotStrings::operator=(SlotStrings&& other) noexcept {
  if (this != &other) {
    release_all();
    api_ = other.api_;
    owned_ = std::move(other.owned_);
    url_ = other.url_;
    other.owned_.clear();
    other.url_ = nullptr;
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

char* SlotStrings::copy_url(std::string_view text) {
  char* url = copy(text, TVN_URL_CAPACITY);
  if (url != nullptr) url_ = url;
  return url;
}

void SlotStrings::adopt(char* text) {
  if (text != nullptr && !owns(text)) owned_.push_back(text);
}

void SlotStrings::release(char* text) {
  auto it = std::find(owned_.begin(), owned_.end(), text);
  if (it == owned_.end()) return;
  owned_.erase(it);
  if (text == url_) url_ = nullptr;
  if (api_ != nullptr) api_->FreeMem(&text);
}

void SlotStrings::release_all() {
  for (char* text : owned_) {
    if (api_ != nullptr) api_->FreeMem(&text);
  }
  owned_.clear();
  url_ = nullptr;
}

bool SlotStrings::owns(const char* text) const {
  return text != nullptr && std::find(owned_.begin(), owned_.end(), text) != owned_.end();
}

}  // namespace torvane
