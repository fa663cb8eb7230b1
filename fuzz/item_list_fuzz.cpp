// Fuzz target: the item list file reader, of files with and without the
// whole sizes of records past 4 GiB. Whatever it keeps must write out and
// read back to the same list without any damage found, and every record it
// built must be freed (the leak checker sees a heap of plain calloc/free).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "core/queue/item_list_file.h"

namespace {

// What the engine's free_itemdata releases: every string and array, not the record.
int free_itemdata(ItemData* r) {
  void* blocks[] = {r->referer,      r->user_agent,     r->reserved_text,  r->url,
                    r->save_path,    r->proxy,          r->disk.file_name, r->conn.host,
                    r->request_path, r->disk.buf_block, r->div_status,     r->div_retries,
                    r->div_stop,     r->conn.sockets,   r->disk.range_len, r->disk.range_done,
                    r->disk.buf_ptr, r->disk.buf_fill};
  for (void* b : blocks) std::free(b);
  return 0;
}

const torvane::EngineApi kApi{
    .free_itemdata = free_itemdata,
    .GetMem = [](unsigned size) { return std::calloc(size > 0 ? size : 1, 1); },
    .FreeMem = [](void* p) { std::free(std::exchange(*static_cast<void**>(p), nullptr)); }};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace torvane;
  const auto unterminated = [](const auto& f) { return strnlen(f, sizeof f) == sizeof f; };
  ItemList first, second;
  if (decode_item_list({reinterpret_cast<const char*>(data), size}, first, kApi) != 0) std::abort();
  for (std::size_t k = 0; k < first.size(); ++k) {
    const ListItem& item = *first.at(static_cast<std::int64_t>(k));
    if (unterminated(item.url) || unterminated(item.save_folder) || unterminated(item.file_name) ||
        unterminated(item.division_text) || item.state < kWaiting || item.state > kResting ||
        (item.saved && item.saved->disk.count_ref != &item.saved->div_count))
      std::abort();
    // Whole sizes come with a saved record whose fields they saturate to,
    // and with every saved record that has a saturated field.
    if (!item.saved_wide.empty() && (!item.saved || !wide_copy_fits(*item.saved, item.saved_wide)))
      std::abort();
    if (item.saved && has_saturated_size(*item.saved) && item.saved_wide.empty()) std::abort();
  }
  // One write and read settles every text at its field: from then on the
  // encoding must not change.
  const std::string once = encode_item_list(first, false);
  ItemListDamage damage;
  if (decode_item_list(once, second, kApi, &damage) != 0 || damage.any() ||
      second.size() != first.size() || encode_item_list(second, false) != once)
    std::abort();
  return 0;
}
