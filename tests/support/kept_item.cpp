#include "tests/support/kept_item.h"

#include <cstdlib>
#include <cstring>

#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

std::vector<std::uint64_t> whole(std::uint64_t*& field, int n) {
  std::uint64_t* array = load_acquire(field);
  std::vector<std::uint64_t> values;
  for (int d = 0; array != nullptr && d < n; ++d) values.push_back(load_relaxed(array[d]));
  return values;
}

std::uint64_t* heap_copy(const std::vector<std::uint64_t>& values) {
  auto* block = static_cast<std::uint64_t*>(
      GetMem(static_cast<unsigned>(values.size() * sizeof(std::uint64_t))));
  if (block != nullptr) std::memcpy(block, values.data(), values.size() * sizeof(std::uint64_t));
  return block;
}

}  // namespace

KeptItem::~KeptItem() {
  if (record_ != nullptr) {
    free_itemdata(record_);
    std::free(record_);
  }
  for (char* text : texts_) std::free(text);
}

void KeptItem::take(EngineContext* ctx, int slot) {
  ItemData& live = load_acquire(ctx->items)[slot];
  record_ = copy_itemdata(record_, &live);
  WideSizes* wide = dl_wide(ctx, slot);
  if (record_ == nullptr || wide == nullptr) return;
  file_size = load_relaxed(wide->file_size);
  len = whole(wide->range_len, record_->div_count);
  done = whole(wide->range_done, record_->div_count);
}

void KeptItem::keep_stopped(EngineHarness& engine) {
  engine.answer(TVN_NOTICE_STOPPED, [this](EngineContext* ctx, int slot, int, void*) {
    take(ctx, slot);
    return 0;
  });
}

int KeptItem::resume(EngineHarness& engine) {
  const int slot = dl_set(&engine.ctx());
  if (slot < 0 || record_ == nullptr) return -1;
  ItemData& item = engine.item(slot);
  if (copy_itemdata(&item, record_) != &item) return -1;
  std::memset(item.div_stop, 0, sizeof(std::int32_t) * (item.div_count + 1));
  for (char* text :
       {item.url, item.referer, item.user_agent, item.reserved_text, item.save_path, item.proxy})
    texts_.push_back(text);
  WideSizes& wide = *dl_wide(&engine.ctx(), slot);
  wide.file_size = file_size;
  wide.range_len = heap_copy(len);
  wide.range_done = heap_copy(done);
  store_release(item.state, TVN_STATE_EMPTY);  // dl_resume takes up no reserved record
  return dl_resume(&engine.ctx(), slot, -1) == 0 ? slot : -1;
}

}  // namespace torvane::test
