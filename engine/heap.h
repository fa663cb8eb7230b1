// Allocation helpers for the blocks a record points at. Everything that
// crosses the library boundary lives on the heap behind GetMem/FreeMem
// (malloc/free), so these use it too.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace torvane::engine {

// n zeroed elements (at least one), or null.
template <class T>
T* zeroed_array(int n) {
  return static_cast<T*>(std::calloc(static_cast<std::size_t>(n > 0 ? n : 1), sizeof(T)));
}

// A NUL-terminated copy of len bytes in a zeroed block of at least
// `minimum` bytes, or null.
inline char* copy_text(const char* text, std::size_t len, std::size_t minimum = 0) {
  char* copy = static_cast<char*>(std::calloc(len + 1 > minimum ? len + 1 : minimum, 1));
  if (copy != nullptr) std::memcpy(copy, text, len);
  return copy;
}

// copy_text of a whole string; null stays null.
inline char* duplicate_text(const char* text, std::size_t minimum = 0) {
  return text == nullptr ? nullptr : copy_text(text, std::strlen(text), minimum);
}

}  // namespace torvane::engine
