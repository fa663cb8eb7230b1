// The records are an interface: a 32-bit build must lay them out exactly as
// their stored forms (the item list file keeps ItemData byte for byte).
#include <cstddef>

#include "torvane/torvane.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(EngineContext) == 48);
static_assert(offsetof(EngineContext, max_items) == 0);
static_assert(offsetof(EngineContext, slot_count) == 4);
static_assert(offsetof(EngineContext, callback) == 8);
static_assert(offsetof(EngineContext, wait_ms) == 12);
static_assert(offsetof(EngineContext, dl_thread_ctl) == 16);
static_assert(offsetof(EngineContext, dl_thread) == 20);
static_assert(offsetof(EngineContext, dl_thread_id) == 24);
static_assert(offsetof(EngineContext, conn_thread_ctl) == 28);
static_assert(offsetof(EngineContext, conn_thread) == 32);
static_assert(offsetof(EngineContext, conn_thread_id) == 36);
static_assert(offsetof(EngineContext, resize_ctl) == 40);
static_assert(offsetof(EngineContext, items) == 44);

static_assert(sizeof(ConnInfo) == 32);
static_assert(offsetof(ConnInfo, sockets) == 0);
static_assert(offsetof(ConnInfo, host) == 4);
static_assert(offsetof(ConnInfo, port) == 8);
static_assert(offsetof(ConnInfo, host_entry) == 12);
static_assert(offsetof(ConnInfo, address) == 16);

static_assert(sizeof(DiskIO) == 36);
static_assert(offsetof(DiskIO, file) == 0);
static_assert(offsetof(DiskIO, count_ref) == 4);
static_assert(offsetof(DiskIO, file_size) == 8);
static_assert(offsetof(DiskIO, range_len) == 12);
static_assert(offsetof(DiskIO, range_done) == 16);
static_assert(offsetof(DiskIO, buf_ptr) == 20);
static_assert(offsetof(DiskIO, buf_fill) == 24);
static_assert(offsetof(DiskIO, buf_block) == 28);
static_assert(offsetof(DiskIO, file_name) == 32);

static_assert(sizeof(ItemData) == 148);
static_assert(offsetof(ItemData, state) == 0);
static_assert(offsetof(ItemData, run_flags) == 4);
static_assert(offsetof(ItemData, data_type) == 8);
static_assert(offsetof(ItemData, referer) == 12);
static_assert(offsetof(ItemData, user_agent) == 16);
static_assert(offsetof(ItemData, auto_referer) == 20);
static_assert(offsetof(ItemData, reserved_text) == 24);
static_assert(offsetof(ItemData, url) == 28);
static_assert(offsetof(ItemData, save_path) == 32);
static_assert(offsetof(ItemData, extra_header) == 36);
static_assert(offsetof(ItemData, options) == 40);
static_assert(offsetof(ItemData, retry) == 44);
static_assert(offsetof(ItemData, div_count) == 48);
static_assert(offsetof(ItemData, proxy) == 52);
static_assert(offsetof(ItemData, buffer_size) == 56);
static_assert(offsetof(ItemData, div_status) == 60);
static_assert(offsetof(ItemData, div_retries) == 64);
static_assert(offsetof(ItemData, div_stop) == 68);
static_assert(offsetof(ItemData, conn) == 72);
static_assert(offsetof(ItemData, disk) == 104);
static_assert(offsetof(ItemData, request_path) == 140);
static_assert(offsetof(ItemData, owner) == 144);
#endif

// Field order must hold on every build, whatever the pointer width.
static_assert(offsetof(ItemData, owner) > offsetof(ItemData, request_path));
static_assert(offsetof(ItemData, disk) > offsetof(ItemData, conn));
