/*
 * torvane.h - the one header a client of libtorvane.so needs.
 *
 * The engine downloads HTTP resources into local files, each split into
 * div_count byte ranges ("divisions") fetched over parallel connections. A
 * client owns one EngineContext, hands it to torvane_init, reserves a slot with
 * dl_set, fills the slot's ItemData and starts it with dl_start or dl_resume.
 * Two engine threads then do all network and file work and report through the
 * callback in the context. The client reads progress straight out of the slot.
 *
 * The records are part of the interface: field order and integer widths are
 * fixed. Pointers and handles have the platform's width, so on a 32-bit build
 * the records have their stored sizes (EngineContext 48, ItemData 148,
 * ConnInfo 32, DiskIO 36 bytes) and on 64-bit builds they are larger.
 *
 * Threading contract:
 *  - The exports may be called from any thread, including from inside a
 *    notice callback. Notices run on the engine thread that raises them (or on
 *    the caller of dl_start/dl_resume for 301 and a failed-open 108).
 *  - dl_set/dl_start/dl_resume/dl_stop/dl_reconnect serialise on one
 *    engine-internal recursive mutex. A client that has locks of its own must
 *    take them before calling an export, never while the engine might be
 *    waiting on them, i.e. lock order is always "client lock, then engine".
 *  - A slot array retired by a resize stays readable until torvane_end, so a
 *    stale ItemData pointer never reads freed memory; dl_stop on a stale
 *    pointer is forwarded to the live slot of the same index.
 *  - Fields written by one thread and read by another must be read with
 *    acquire and written with release semantics by C++ clients
 *    (std::atomic_ref); see torvane/shared_access.hpp.
 */
#ifndef TORVANE_TORVANE_H
#define TORVANE_TORVANE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define TORVANE_API __attribute__((visibility("default")))
#else
#define TORVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct EngineContext EngineContext;
typedef struct ItemData ItemData;

/* Notice callback: context, code, slot, division, data. Returns a result
 * that the engine uses only for the codes that say so. */
typedef int (*TorvaneCallback)(EngineContext* ctx, int code, int slot, int div, void* data);

/* Thread control bits (dl_thread_ctl, conn_thread_ctl, FTP context). */
enum {
  TVN_CTL_STOP = 0x2,
  TVN_CTL_STOP_OK = 0x4,
  TVN_CTL_END = 0x8,
  TVN_CTL_END_OK = 0x10,
  TVN_CTL_END_FAIL = 0x20
};

/* resize_ctl bits. */
enum { TVN_RESIZE_REQUEST = 0x2, TVN_RESIZE_DONE = 0x4 };

/* Item state codes. */
enum {
  TVN_STATE_EMPTY = 0,
  TVN_STATE_RESERVED = 1,
  TVN_STATE_STARTED = 2,
  TVN_STATE_PROBING = 3,
  TVN_STATE_DOWNLOADING = 4,
  TVN_STATE_FREE = 5,
  TVN_STATE_FAILED = 6
};

/* Division status codes; 100..999 is the HTTP status with the body flowing. */
enum {
  TVN_DIV_IDLE = 0,
  TVN_DIV_SENT = 1,
  TVN_DIV_DONE = 2,
  TVN_DIV_FAILED = 3,
  TVN_DIV_HTTP_MIN = 100
};

/* run_flags bits. */
enum {
  TVN_RUN_PROBE_PENDING = 0x1,
  TVN_RUN_PROBE_SENT = 0x2,
  TVN_RUN_PROBE_DONE = 0x4,
  TVN_RUN_SINGLE_CONNECTION = 0x8
};

/* options bits. */
enum {
  TVN_OPT_IGNORE_REDIRECTION = 0x1,
  TVN_OPT_IGNORE_CLIENT_ERROR = 0x2,
  TVN_OPT_IGNORE_SERVER_ERROR = 0x4,
  TVN_OPT_AUTO_RESUME = 0x8,
  TVN_OPT_MEMORY_FETCH = 0x10,
  TVN_OPT_USE_PROXY = 0x20,
  TVN_OPT_SPEED_MODE = 0x40
};

/* data_type values. */
enum { TVN_DATA_HTTP = 1, TVN_DATA_FTP = 2 };

/* Notice codes. */
enum {
  TVN_NOTICE_CLOSING = 3,
  TVN_NOTICE_HEAD_SENT = 101,
  TVN_NOTICE_HEAD_HEADER = 102,
  TVN_NOTICE_GET_SENT = 103,
  TVN_NOTICE_GET_HEADER = 104,
  TVN_NOTICE_DATA = 105,
  TVN_NOTICE_MEMORY_DONE = 106,
  TVN_NOTICE_FINISHED = 107,
  TVN_NOTICE_FAILED = 108,
  TVN_NOTICE_STOPPED = 109,
  TVN_NOTICE_HEADER_PARSED = 111,
  TVN_NOTICE_SLOT_FREE = 112,
  TVN_NOTICE_RESIZED = 201,
  TVN_NOTICE_OPEN_FILE = 301,
  /* Replaces the engine's message box: data is a NUL-terminated text. */
  TVN_NOTICE_MESSAGE = 401
};

struct EngineContext {
  int32_t max_items;
  int32_t slot_count;
  TorvaneCallback callback;
  int32_t wait_ms;
  uint32_t dl_thread_ctl;
  void* dl_thread; /* handle: engine-internal, opaque */
  uint32_t dl_thread_id;
  uint32_t conn_thread_ctl;
  void* conn_thread; /* handle: engine-internal, opaque */
  uint32_t conn_thread_id;
  uint32_t resize_ctl;
  ItemData* items;
};

typedef struct ConnInfo {
  int32_t* sockets;    /* [div_count], -1 = none */
  char* host;          /* host part of the URL (engine-owned) */
  int32_t port;        /* used as an unsigned 16-bit port */
  void* host_entry;    /* resolver result (engine-owned) */
  uint8_t address[16]; /* IPv4 socket address: family, port (network order), address, zeros */
} ConnInfo;

typedef struct DiskIO {
  intptr_t file;        /* output file handle, 0 = not open */
  int32_t* count_ref;   /* points at div_count of the same record */
  uint32_t file_size;   /* from Content-Length, 0 = none reported */
  uint32_t* range_len;  /* [div_count], 0 = open end */
  uint32_t* range_done; /* [div_count] bytes of each range written */
  char** buf_ptr;       /* [div_count] start of each division's share */
  int32_t* buf_fill;    /* [div_count] bytes waiting in each share */
  char* buf_block;      /* the one buffer block of buffer_size bytes */
  char* file_name;      /* copy of the open file's path */
} DiskIO;

/* extra_header: header lines ("Name: value\r\n" each) sent verbatim with
 * every GET, never with the HEAD.
 *
 * Versions and resumes: the engine remembers the version of the file that
 * an item's first answer names (its strong ETag, else its Last-Modified;
 * both are in the header texts of notices 102 and 104) and sends it as
 * "If-Range: <validator>" with every ranged GET after that. An answer of
 * another version, or a size other than the one the item started with,
 * starts the item over from byte 0 with the new size (notice 401 says
 * why); after two such restarts the item fails instead. A client that
 * resumes an item whose validator it knows puts the line
 * "If-Range: <validator>\r\n" into extra_header: the engine then takes that
 * value as the item's version and sends no second If-Range line (the line is
 * replaced by the engine's when the version changes). A server that names
 * no version keeps its answers unchecked.
 *
 * A chunked answer is decoded; such an item runs over one division. */
struct ItemData {
  int32_t state;
  uint32_t run_flags;
  int32_t data_type;
  char* referer;
  char* user_agent;
  int32_t auto_referer;
  char* reserved_text;
  char* url; /* a redirect overwrites it in place: the buffer holds TVN_URL_CAPACITY bytes */
  char* save_path;
  char* extra_header;
  uint32_t options;
  int32_t retry;
  int32_t div_count;
  char* proxy;
  int32_t buffer_size;
  int32_t* div_status;
  int32_t* div_retries;
  int32_t* div_stop; /* [div_count + 1]; the last element stops the whole item */
  ConnInfo conn;
  DiskIO disk;
  char* request_path;
  EngineContext* owner;
};

/* Size of every url buffer the engine may overwrite on a redirect. */
#define TVN_URL_CAPACITY 2048
/* Size of the file-name buffers used with DiskIO_MakeFileName. */
#define TVN_PATH_CAPACITY 2048

TORVANE_API int torvane_init(EngineContext* ctx, int mode);
TORVANE_API int torvane_end(EngineContext* ctx);
TORVANE_API int dl_set(EngineContext* ctx);
TORVANE_API int dl_start(EngineContext* ctx, int slot);
TORVANE_API int dl_resume(EngineContext* ctx, int slot, int div);
TORVANE_API int dl_stop(ItemData* item, int div);
TORVANE_API int dl_reconnect(EngineContext* ctx, int slot, int div, int count_retry);
TORVANE_API ItemData* copy_itemdata(ItemData* dst, const ItemData* src);
TORVANE_API int free_itemdata(ItemData* item);
TORVANE_API void* GetMem(unsigned size);
TORVANE_API void FreeMem(void* p); /* p is the address of a pointer; *p is freed and nulled */

TORVANE_API int DiskIO_OpenFile(DiskIO* disk, const char* path);
TORVANE_API int DiskIO_CloseHandle(DiskIO* disk);
TORVANE_API int DiskIO_CheckFile(const char* path);
TORVANE_API int DiskIO_MakeFileName(const char* save_path, const char* url, char* out);

#ifdef __cplusplus
}
#endif

#include "torvane/tvnftp.h"

#endif /* TORVANE_TORVANE_H */
