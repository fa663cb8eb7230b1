// Fuzz target: URL pattern expansion. Every input must come back as lines
// that end in CR LF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text/pattern_expand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string out = torvane::expand_pattern(input);
  if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0) std::abort();
  return 0;
}
