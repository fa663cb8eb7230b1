// Fuzz target: the item list file reader. Whatever it keeps must write out
// and read back to the same list, and every record it built must be freed
// (the leak checker sees a heap of plain calloc/free).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "gui/shell/item_list_file.h"

namespace {

void* get_mem(unsigned size) {
  return std::calloc(size > 0 ? size : 1, 1);
}

void free_mem(void* p) {
  void** slot = static_cast<void**>(p);
  std::free(*slot);
  *slot = nullptr;
}

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

torvane::EngineApi heap_api() {
  torvane::EngineApi api;
  api.GetMem = get_mem;
  api.FreeMem = free_mem;
  api.free_itemdata = free_itemdata;
  return api;
}

const torvane::EngineApi kApi = heap_api();

template <std::size_t N>
void check_terminated(const char (&field)[N]) {
  if (strnlen(field, N) >= N) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  torvane::ItemList first;
  if (torvane::decode_item_list(bytes, first, kApi) != 0) std::abort();
  for (std::size_t k = 0; k < first.size(); ++k) {
    const torvane::ListItem& item = *first.at(static_cast<std::int64_t>(k));
    check_terminated(item.url);
    check_terminated(item.save_folder);
    check_terminated(item.file_name);
    check_terminated(item.division_text);
    if (item.state < torvane::kWaiting || item.state > torvane::kResting) std::abort();
    if (item.saved && item.saved->disk.count_ref != &item.saved->div_count) std::abort();
  }
  // One write and read settles every text at its field: from then on the
  // encoding must not change.
  const std::string once = torvane::encode_item_list(first, false);
  torvane::ItemList second;
  if (torvane::decode_item_list(once, second, kApi) != 0) std::abort();
  if (second.size() != first.size()) std::abort();
  if (torvane::encode_item_list(second, false) != once) std::abort();
  return 0;
}
