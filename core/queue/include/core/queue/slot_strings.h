// The strings a started slot holds on the program's behalf: its copies of the
// item's URL and save folder, the referrer and proxy copies, the shortened
// first-request URL, the cookie lines, and after a resume every text that
// copy_itemdata duplicated. A live slot points at nothing else: the list
// item may change or go while the engine still reads and writes these. All
// live in the engine's heap (GetMem), so one rule frees them all, whichever
// way the slot was filled: through FreeMem with the item's final notice
// (107, 108 or 109) or when a start is refused.
//
// Not synchronised; the manager guards each slot's set with its mutex.
#pragma once

#include <string_view>
#include <vector>

#include "core/system/engine_binding.h"

namespace torvane {

class SlotStrings {
 public:
  explicit SlotStrings(const EngineApi* api = nullptr) : api_(api) {}
  ~SlotStrings() { release_all(); }
  SlotStrings(SlotStrings&& other) noexcept;
  SlotStrings& operator=(SlotStrings&& other) noexcept;
  SlotStrings(const SlotStrings&) = delete;
  SlotStrings& operator=(const SlotStrings&) = delete;

  // A zero-filled copy of `text` in the engine's heap, at least `capacity`
  // bytes (0: just the text and its NUL), owned by this set. nullptr when
  // memory ran out.
  char* copy(std::string_view text, unsigned capacity = 0);
  // A copy of the item's URL in a full URL buffer (a redirect overwrites it
  // in place), owned by this set and remembered as the slot's item URL: the
  // one whose text goes back to the list item at a header notice. nullptr
  // when memory ran out.
  char* copy_url(std::string_view text);
  // Remembers an owned string as the item URL (nullptr, or a string not
  // owned, forgets it).
  void set_item_url(char* text) { url_ = owns(text) ? text : nullptr; }
  // The item URL, or nullptr while the slot asks for another one (the
  // shortened first request of a cookie profile) or has none.
  const char* item_url() const { return url_; }
  // Takes an engine-heap string (nullptr is ignored).
  void adopt(char* text);
  // Frees one owned string now; a pointer not owned is left alone.
  void release(char* text);
  // Frees every owned string.
  void release_all();
  // Forgets every string without freeing it (free_itemdata already did).
  void forget_all() {
    owned_.clear();
    url_ = nullptr;
  }
  bool owns(const char* text) const;

 private:
  const EngineApi* api_;
  std::vector<char*> owned_;
  char* url_ = nullptr;
};

}  // namespace torvane
