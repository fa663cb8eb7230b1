// The strings a started slot holds on the program's behalf: the referrer and
// proxy copies, the shortened first-request URL, and after a resume every
// text that copy_itemdata duplicated. All live in the engine's heap (GetMem),
// so one rule frees them all, whichever way the slot was filled: through
// FreeMem when the engine closes the slot (notice 3) or when a start is
// refused.
//
// Not synchronised; the manager guards each slot's set with its mutex.
#pragma once

#include <string_view>
#include <vector>

#include "gui/shell/engine_binding.h"

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
  // Takes an engine-heap string (nullptr is ignored).
  void adopt(char* text);
  // Frees one owned string now; a pointer not owned is left alone.
  void release(char* text);
  // Frees every owned string.
  void release_all();
  // Forgets every string without freeing it (free_itemdata already did).
  void forget_all() { owned_.clear(); }
  bool owns(const char* text) const;

 private:
  const EngineApi* api_;
  std::vector<char*> owned_;
};

}  // namespace torvane
