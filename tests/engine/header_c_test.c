// The public header as a C client sees it: it compiles as C, names the
// records without the struct keyword, and the exports link under their C
// names.
#include "torvane/torvane.h"

// For the C++ side to compare with its own view of the records.
size_t torvane_c_record_sizes(void) {
  return sizeof(EngineContext) + sizeof(ItemData) + sizeof(ConnInfo) + sizeof(DiskIO);
}

// Mode 1 asks for nothing: it must start no thread and allocate nothing.
int torvane_c_init_mode_one(void) {
  EngineContext ctx = {0};
  ctx.max_items = 3;
  return torvane_init(&ctx, 1) == 1 && ctx.items == NULL && ctx.slot_count == 0 &&
         ctx.dl_thread == NULL && ctx.conn_thread == NULL;
}
