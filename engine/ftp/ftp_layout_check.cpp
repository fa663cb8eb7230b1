// The FTP records are an interface like the engine's: a 32-bit build must lay
// them out exactly as their stored forms, the context like the head of
// EngineContext.
#include <cstddef>

#include "torvane/torvane.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TvnFtpContext) == 36);
static_assert(offsetof(TvnFtpContext, wanted_count) == 0);
static_assert(offsetof(TvnFtpContext, record_count) == 4);
static_assert(offsetof(TvnFtpContext, callback) == 8);
static_assert(offsetof(TvnFtpContext, wait_ms) == 12);
static_assert(offsetof(TvnFtpContext, thread_ctl) == 16);
static_assert(offsetof(TvnFtpContext, thread) == 20);
static_assert(offsetof(TvnFtpContext, thread_id) == 24);
static_assert(offsetof(TvnFtpContext, resize_ctl) == 28);
static_assert(offsetof(TvnFtpContext, records) == 32);

static_assert(sizeof(TvnFtpConnection) == 136);
static_assert(offsetof(TvnFtpConnection, login_bits) == 0);
static_assert(offsetof(TvnFtpConnection, io_bits) == 4);
static_assert(offsetof(TvnFtpConnection, text) == 8);
static_assert(offsetof(TvnFtpConnection, reply_capacity) == 12);
static_assert(offsetof(TvnFtpConnection, reply_fill) == 16);
static_assert(offsetof(TvnFtpConnection, conn) == 20);
static_assert(offsetof(TvnFtpConnection, login) == 128);
#endif

// The shared head must match on every build, whatever the pointer width.
static_assert(offsetof(TvnFtpContext, wanted_count) == offsetof(EngineContext, max_items));
static_assert(offsetof(TvnFtpContext, record_count) == offsetof(EngineContext, slot_count));
static_assert(offsetof(TvnFtpContext, callback) == offsetof(EngineContext, callback));
static_assert(offsetof(TvnFtpContext, wait_ms) == offsetof(EngineContext, wait_ms));
static_assert(offsetof(TvnFtpContext, thread_ctl) == offsetof(EngineContext, dl_thread_ctl));
static_assert(offsetof(TvnFtpContext, thread) == offsetof(EngineContext, dl_thread));
static_assert(offsetof(TvnFtpConnection, login) > offsetof(TvnFtpConnection, conn));
