// What a client keeps of a stopped item to resume it later, the way the
// program keeps it: a copy of the record and, for sizes of 4 GiB and more,
// the whole values of the slot's WideSizes; and the resume of that copy in a
// slot of another engine.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/engine_harness.h"
#include "torvane/torvane.h"

namespace torvane::test {

class KeptItem {
 public:
  KeptItem() = default;
  ~KeptItem();
  KeptItem(const KeptItem&) = delete;
  KeptItem& operator=(const KeptItem&) = delete;

  // During the item's final notice: copies the record of `slot` and its
  // whole sizes (replacing what was kept).
  void take(EngineContext* ctx, int slot);
  // Makes `engine` take every item it stops.
  void keep_stopped(EngineHarness& engine);
  // The kept copy (null before take), to change before a resume.
  ItemData* record() const { return record_; }

  // The whole values the resume gives the engine.
  std::uint64_t file_size = 0;
  std::vector<std::uint64_t> len{}, done{};

  // In a slot of `engine`: the copy with its stop flags cleared, its whole
  // values in engine-heap blocks of the slot's WideSizes, then dl_resume of
  // every division. The slot, or -1 when dl_set or dl_resume refused.
  int resume(EngineHarness& engine);

 private:
  ItemData* record_ = nullptr;
  std::vector<char*> texts_;  // the copies' texts, which the engine leaves to the client
};

}  // namespace torvane::test
