/* The public header as a C client sees it: it compiles as C, names the
 * records and their fields without the struct keyword, and links against
 * the engine's C names. On a 32-bit build the stored sizes and offsets are
 * checked at compile time here as well. */
#include <stddef.h>
#include <string.h>

#include "torvane/torvane.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
_Static_assert(sizeof(EngineContext) == 48, "EngineContext is 48 bytes");
_Static_assert(sizeof(ItemData) == 148, "ItemData is 148 bytes");
_Static_assert(sizeof(ConnInfo) == 32, "ConnInfo is 32 bytes");
_Static_assert(sizeof(DiskIO) == 36, "DiskIO is 36 bytes");
_Static_assert(offsetof(EngineContext, items) == 44, "items at 44");
_Static_assert(offsetof(ItemData, conn) == 72, "conn at 72");
_Static_assert(offsetof(ItemData, disk) == 104, "disk at 104");
_Static_assert(offsetof(ItemData, owner) == 144, "owner at 144");
_Static_assert(offsetof(DiskIO, file_name) == 32, "file_name at 32");
_Static_assert(offsetof(ConnInfo, address) == 16, "address at 16");
#endif

/* Offsets of every field as C lays them out, in declaration order; the C++
 * side compares them with its own. Returns the number written. */
int torvane_c_offsets(size_t* out) {
  int n = 0;
  const size_t offsets[] = {
      sizeof(EngineContext), sizeof(ItemData), sizeof(ConnInfo), sizeof(DiskIO),
      offsetof(EngineContext, max_items), offsetof(EngineContext, slot_count),
      offsetof(EngineContext, callback), offsetof(EngineContext, wait_ms),
      offsetof(EngineContext, dl_thread_ctl), offsetof(EngineContext, dl_thread),
      offsetof(EngineContext, dl_thread_id), offsetof(EngineContext, conn_thread_ctl),
      offsetof(EngineContext, conn_thread), offsetof(EngineContext, conn_thread_id),
      offsetof(EngineContext, resize_ctl), offsetof(EngineContext, items),
      offsetof(ItemData, state), offsetof(ItemData, run_flags), offsetof(ItemData, data_type),
      offsetof(ItemData, referer), offsetof(ItemData, user_agent), offsetof(ItemData, auto_referer),
      offsetof(ItemData, reserved_text), offsetof(ItemData, url), offsetof(ItemData, save_path),
      offsetof(ItemData, extra_header), offsetof(ItemData, options), offsetof(ItemData, retry),
      offsetof(ItemData, div_count), offsetof(ItemData, proxy), offsetof(ItemData, buffer_size),
      offsetof(ItemData, div_status), offsetof(ItemData, div_retries), offsetof(ItemData, div_stop),
      offsetof(ItemData, conn), offsetof(ItemData, disk), offsetof(ItemData, request_path),
      offsetof(ItemData, owner),
      offsetof(ConnInfo, sockets), offsetof(ConnInfo, host), offsetof(ConnInfo, port),
      offsetof(ConnInfo, host_entry), offsetof(ConnInfo, address),
      offsetof(DiskIO, file), offsetof(DiskIO, count_ref), offsetof(DiskIO, file_size),
      offsetof(DiskIO, range_len), offsetof(DiskIO, range_done), offsetof(DiskIO, buf_ptr),
      offsetof(DiskIO, buf_fill), offsetof(DiskIO, buf_block), offsetof(DiskIO, file_name)};
  for (n = 0; n < (int)(sizeof offsets / sizeof offsets[0]); ++n) out[n] = offsets[n];
  return n;
}

/* Mode 1 asks for nothing: the call must link from C and start no thread. */
int torvane_c_init_mode_one(void) {
  EngineContext ctx;
  memset(&ctx, 0, sizeof ctx);
  ctx.max_items = 3;
  return torvane_init(&ctx, 1) == 1 && ctx.items == NULL && ctx.slot_count == 0 &&
         ctx.dl_thread == NULL && ctx.conn_thread == NULL;
}
