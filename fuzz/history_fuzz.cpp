// Fuzz target: the history reader. Kept cells never exceed the value bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/text/history_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const torvane::HistoryList list = torvane::parse_history(text);
  if (list.complete_records < 0) std::abort();
  for (const auto& row : list.rows) {
    for (const auto& cell : row.cells) {
      if (cell.size() > torvane::kHistoryMaxValue) std::abort();
    }
  }
  torvane::history_summary_rows(list);
  return 0;
}
