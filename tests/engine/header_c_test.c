/* The public header as a C client sees it: it compiles as C, names the
 * records and every field without the struct keyword, and the exports link
 * under their C names. */
#include <stddef.h>
#include <string.h>

#include "torvane/torvane.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
_Static_assert(sizeof(EngineContext) == 48 && sizeof(ItemData) == 148, "stored sizes");
_Static_assert(sizeof(ConnInfo) == 32 && sizeof(DiskIO) == 36, "stored sizes");
#endif

/* Touches every field by name; returns the number of bytes the client sees
 * in one slot, for the C++ side to compare with its own view. */
size_t torvane_c_touch_fields(EngineContext* ctx, ItemData* item) {
  ctx->max_items = ctx->slot_count = ctx->wait_ms = 0;
  ctx->callback = NULL;
  ctx->dl_thread_ctl = ctx->conn_thread_ctl = ctx->resize_ctl = 0;
  ctx->dl_thread = ctx->conn_thread = NULL;
  ctx->dl_thread_id = ctx->conn_thread_id = 0;
  ctx->items = item;
  item->state = item->data_type = item->auto_referer = item->retry = item->div_count = 0;
  item->run_flags = item->options = 0;
  item->buffer_size = 0;
  item->referer = item->user_agent = item->reserved_text = item->url = item->save_path = NULL;
  item->extra_header = item->proxy = item->request_path = NULL;
  item->div_status = item->div_retries = item->div_stop = NULL;
  item->owner = ctx;
  item->conn.sockets = NULL;
  item->conn.host = NULL;
  item->conn.port = 0;
  item->conn.host_entry = NULL;
  memset(item->conn.address, 0, sizeof item->conn.address);
  item->disk.file = 0;
  item->disk.count_ref = &item->div_count;
  item->disk.file_size = 0;
  item->disk.range_len = item->disk.range_done = NULL;
  item->disk.buf_ptr = NULL;
  item->disk.buf_fill = NULL;
  item->disk.buf_block = item->disk.file_name = NULL;
  return sizeof *item;
}

/* Mode 1 asks for nothing: it must start no thread and allocate nothing. */
int torvane_c_init_mode_one(void) {
  EngineContext ctx;
  memset(&ctx, 0, sizeof ctx);
  ctx.max_items = 3;
  return torvane_init(&ctx, 1) == 1 && ctx.items == NULL && ctx.slot_count == 0 &&
         ctx.dl_thread == NULL && ctx.conn_thread == NULL;
}
