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
 * Threads. The engine runs two threads per context. The connection thread
 * prepares started items (state 2: division arrays, buffer, host lookup) and
 * sends the requests that are due. The download thread receives, writes the
 * files, carries out stops and reconnects, moves the slot table on a resize
 * and finishes the items that ran. Each notice runs on the thread that raises
 * it (see the notice table below); the callback must return before that
 * thread goes on.
 *
 * Locks. dl_set, dl_start, dl_resume and dl_stop take one engine-internal
 * recursive lock; dl_reconnect takes none. The download thread takes it to
 * move the slot table and to release a finished record, never while a notice
 * runs. The lock order is: the client's lock, then the engine's. So:
 *  - a client may call every export while it holds its own lock;
 *  - notice 301, and notice 108 raised by dl_start or dl_resume, run on the
 *    caller's thread with the engine lock held: their callback may take a
 *    client lock only when that thread took it before calling the export;
 *  - notices on the engine threads run without the engine lock: their
 *    callback may take client locks and call the exports (not torvane_end);
 *  - while a client holds a lock that its callback takes, it must not wait
 *    for an engine thread (torvane_end waits for both).
 *
 * A slot table retired by a resize stays readable until torvane_end, so a
 * stale ItemData pointer never reads freed memory; dl_stop on a stale pointer
 * is forwarded to the live slot of the same index.
 *
 * Shared fields are read and written through std::atomic_ref by C++ clients
 * (torvane/shared_access.hpp), with the memory order that each field's
 * comment below names; C clients use the matching C11 atomics.
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
  TVN_OPT_SPEED_MODE = 0x40,
  /* https:// only: any server certificate is accepted (the profile key
   * TLSVerify=0); the item's first request text says so. */
  TVN_OPT_NO_TLS_VERIFY = 0x80
};

/* data_type values. */
enum { TVN_DATA_HTTP = 1, TVN_DATA_FTP = 2 };

/* Notice codes, raised through the context's callback as
 * callback(ctx, code, slot, div, data). The callback's result is ignored but
 * where this table names it. "data" pointers are valid during the callback
 * only.
 *
 *  code  thread                div  data, result, what the client may do
 *  3     the finishing thread  0   null. The item is ending: its file is
 *        (see below)               closed; its final notice follows.
 *  101   connection thread     d   the HEAD request text (NUL-terminated copy)
 *                                  as sent, but for its credentials: a URL's
 *                                  user part is sent as an Authorization line
 *                                  and shown as "Authorization: Basic
 *                                  ********"; a password in the target too.
 *  102   download thread       d   the HEAD answer's header text (copy).
 *  103   connection thread     d   the GET request text of division d (copy,
 *                                  masked as for 101).
 *  104   download thread       d   the GET answer's header text (copy).
 *  105   download thread       d   the ItemData: bytes of division d arrived
 *                                  or its connection ended. The client reads
 *                                  progress here; it may call dl_stop and
 *                                  dl_reconnect (which then acts at once).
 *  106   download thread       0   the item's DiskIO: a memory fetch ended
 *                                  whole; the page is the buf_fill[0] bytes at
 *                                  buf_ptr[0]. Result -1 fails the item (108
 *                                  follows, else 107).
 *  107   the finishing thread  0   null. Finished: every division complete.
 *  108   the finishing thread, 0   null. Failed. Also raised alone on the
 *        or the caller of          caller's thread when dl_start or dl_resume
 *        dl_start/dl_resume        returns -1 for a failed open or preparation.
 *  109   the finishing thread  0   null. Stopped by dl_stop(item, -1), or by
 *                                  a full disk. 107 to 109 are the item's
 *                                  final notice: the record is still whole
 *                                  (the client may copy it with
 *                                  copy_itemdata) and after it the engine
 *                                  reads none of the texts the client gave.
 *  111   download thread       d   the ItemData: division d's answer header
 *                                  was read and accepted (102 or 104 follows).
 *                                  The connection thread is kept out of the
 *                                  slot meanwhile, so the client may change
 *                                  url (in its buffer), extra_header, options,
 *                                  disk.file_size and lower div_count. Result
 *                                  -1 fails the division; 1 splits the URL and
 *                                  looks the host up again, and the division
 *                                  is asked again (status 0).
 *  112   the finishing thread  0   null. The record has been released and
 *                                  zeroed (state 0); dl_set may already have
 *                                  handed the slot out again.
 *  201   download thread       0   null, slot 0. The slot table was resized on
 *                                  request (TVN_RESIZE_DONE set in resize_ctl
 *                                  when it grew or had the size; else
 *                                  max_items was set back to slot_count). The
 *                                  table may have moved: re-read items.
 *  301   the caller of         0   null. Before an item's file is opened. The
 *        dl_start/dl_resume;       client may open the file itself
 *        download thread after     (DiskIO_OpenFile on the item's disk) or set
 *        a redirected HEAD         save_path and url; result -1 refuses, and
 *                                  the item fails (state 6, notice 108).
 *  401   download thread       0   a NUL-terminated text: why the engine
 *        (and where 108 comes      restarted, reduced or failed the item.
 *        from a failed             These failures are said, once per item
 *        preparation, or the       and before its 108: a URL refused
 *        connection thread's       ("the URL cannot be used: ..."), a host
 *        last refused connect,     not found ("host not found: NAME") or
 *        that thread)              not supported ("IPv6 addresses are not
 *                                  supported yet: [::1]"), a connection
 *                                  refused on the last attempt ("connection
 *                                  refused: HOST:PORT", the proxy's where
 *                                  one is used), an error status that used
 *                                  up a division's attempts ("404 Not Found"
 *                                  as the server wrote it, or "HTTP 404"),
 *                                  an answer that ended before its length,
 *                                  and the causes said as they happen
 *                                  (redirect loops, refused ranges, a full
 *                                  disk...). A cause that a later attempt
 *                                  gets past is not said. The texts may
 *                                  change; which failures carry one may not.
 *                                  No text holds a URL's password.
 *
 * "The finishing thread" is the download thread for an item that ran
 * (states 3 to 6) and the connection thread for one still in state 2 (a
 * failed preparation: 3, 108, 112; a stop before preparation: 109, 112). */
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

/* The client sets max_items, callback and wait_ms before torvane_init, which
 * fills the rest. While the engine runs:
 *  - max_items: to grow the table store it (release) and set
 *    TVN_RESIZE_REQUEST in resize_ctl (set_bits); notice 201 answers.
 *  - wait_ms: any time (the threads read it relaxed); callback: never.
 *  - dl_thread_ctl: the client may set TVN_CTL_STOP to pause the download
 *    thread (TVN_CTL_STOP_OK confirms) and clear both to let it go on.
 *  - conn_thread_ctl, the handles, the thread ids, slot_count and items are
 *    the engine's; read them with acquire. */
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

/* Who writes which field of a slot's record, and how a running one is read.
 *
 * The client writes:
 *  - in a slot reserved by dl_set (state 1), before dl_start: data_type,
 *    referer, user_agent, auto_referer, url, save_path, extra_header,
 *    options, retry, div_count, proxy, buffer_size, conn.port (FTP items)
 *    and disk.file (a file opened with DiskIO_OpenFile). dl_start makes the
 *    division arrays anew and frees any the record points at, so those are
 *    null or blocks from the engine heap (GetMem).
 *  - in a slot that no engine thread serves (state 0, 5 or 6), before
 *    dl_resume: the whole record, usually copy_itemdata of a copy the client
 *    kept, with its division arrays (engine heap), ranges, bytes done and
 *    disk.file_size. dl_resume keeps the division count and the arrays; it
 *    ignores the handle in disk.file (open the file during notice 301).
 *  - during notice 301: disk (the file), save_path and url; during notice
 *    111: url, extra_header, options, disk.file_size and div_count (never
 *    above its value).
 *  - state, only to 0 (release), to give up a slot in state 1, or in state
 *    6 after dl_start or dl_resume returned -1.
 *  - reserved_text, at any time: the engine only copies and frees it with
 *    the record (copy_itemdata, free_itemdata).
 * Every other field, and every field while the engine serves the slot
 * (states 2 to 4) outside those notices, is the engine's; div_stop is
 * written through dl_stop only.
 *
 * The texts the client gives stay its own: the engine frees none of them
 * (free_itemdata frees a copy's), and reads none after the item's final
 * notice. The engine's blocks (division arrays, conn.host, request_path,
 * the buffer, disk.file_name) live from preparation until the final notice
 * has returned; then the engine frees them and zeroes the record field by
 * field, storing state 0 (release) last.
 *
 * Reading a running item (states 3 and 4) from another thread:
 *  - acquire: state, run_flags, options, div_count, the array pointers,
 *    div_status[d] and disk.range_len[d] (the ranges are computed again
 *    when the size becomes known or changes);
 *  - relaxed: disk.range_done[d], disk.buf_fill[d], disk.file_size,
 *    div_retries[d] and buffer_size;
 *  - url, extra_header and the engine's texts: only inside a notice raised
 *    by the download thread (a redirect rewrites url in place there). */

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

/* Sizes of 4 GiB and more. disk.file_size, disk.range_len[d] and
 * disk.range_done[d] are 32-bit fields of the stored records; they keep their
 * meaning for every value below TVN_SIZE_WIDE. A value of TVN_SIZE_WIDE or
 * more is stored there as TVN_SIZE_WIDE (saturated), and its whole value is
 * in the slot's WideSizes, which dl_wide returns. The engine fills both
 * forms at every store, so a client that never calls dl_wide reads files
 * below 4 GiB exactly as before, and sees TVN_SIZE_WIDE for larger ones.
 *
 * The WideSizes of a slot is the engine's and lives with the slot: its
 * address stays valid until torvane_end (a resize does not move it). Its
 * fields follow the rules of the 32-bit fields they widen (see "Reading a
 * running item": file_size and range_done[d] relaxed, range_len[d] and the
 * array pointers acquire). The arrays hold div_count entries; the engine makes
 * them with the division arrays and frees them when it releases the record
 * (the pointers are then null and file_size 0).
 *
 * Resuming an item of 4 GiB or more: in a slot that no engine thread serves
 * (state 0, 5 or 6), before dl_resume, the client sets file_size and points
 * range_len and range_done at blocks of div_count values from the engine
 * heap (GetMem), as it does for the division arrays of the record. dl_resume
 * takes over those blocks, and for each value whose 32-bit field holds
 * TVN_SIZE_WIDE it uses the wide value when that is TVN_SIZE_WIDE or more;
 * every other value comes from the 32-bit field. A client that resumes only
 * records below 4 GiB leaves the WideSizes alone. copy_itemdata copies the
 * record only: a client that keeps an item of 4 GiB or more copies its wide
 * values too, during the item's final notice at the latest. A client that
 * changes disk.file_size during notice 111 is read by the same rule: a size
 * of 4 GiB or more is TVN_SIZE_WIDE there and whole in file_size.
 *
 * The engine takes sizes up to 2^62 bytes from a server; a Content-Length
 * above that fails the item, as does one of 4 GiB or more for a page
 * fetched into memory (TVN_OPT_MEMORY_FETCH). */
#define TVN_SIZE_WIDE 0xFFFFFFFFu

typedef struct WideSizes {
  uint64_t file_size;   /* disk.file_size, whole; 0 = none reported */
  uint64_t* range_len;  /* [div_count] disk.range_len, whole; 0 = open end */
  uint64_t* range_done; /* [div_count] disk.range_done, whole */
} WideSizes;

/* What a 32-bit size field holds for `value`. */
static inline uint32_t tvn_narrow_size(uint64_t value) {
  return value >= TVN_SIZE_WIDE ? TVN_SIZE_WIDE : (uint32_t)value;
}

/* A size from its 32-bit field and its WideSizes value, by the rule above: the
 * field, unless it is saturated and `wide` holds the whole value. */
static inline uint64_t tvn_whole_size(uint32_t narrow, uint64_t wide) {
  return narrow == TVN_SIZE_WIDE && wide >= TVN_SIZE_WIDE ? wide : narrow;
}

/* Size of every url buffer the engine may overwrite on a redirect. */
#define TVN_URL_CAPACITY 2048
/* Size of the file-name buffers used with DiskIO_MakeFileName. */
#define TVN_PATH_CAPACITY 2048

/* Every export may be called from any thread; "not inside a notice" and
 * the lock order (see the top of this file) are the only limits named. */

/* Starts the engine on ctx: a table of max_items zeroed slots owned by ctx
 * (items, slot_count) and the two threads. Once per context, not inside a
 * notice. 1: started, or mode above 0 (nothing is done). 2: ctx is null or
 * memory runs out. 3: a thread could not be started (none is left running). */
TORVANE_API int torvane_init(EngineContext* ctx, int mode);

/* Ends both threads (each first ends its cycle, a notice it is raising
 * included), frees the slot table and every table a resize retired, and
 * nulls items and the thread handles. Items still running are not finished
 * (no notices; their files and sockets stay open): stop them and wait for
 * notice 112 first. 1: ended. 0: no engine runs on ctx, or a thread could
 * not be joined (TVN_CTL_END_FAIL in its control word). Not inside a notice,
 * and not while holding a lock that the callback takes. */
TORVANE_API int torvane_end(EngineContext* ctx);

/* Reserves a free slot (state 0 or 5) for a new item: state 1, owner ctx.
 * The slot's index, or -1 when no engine runs, max_items slots are taken
 * (any state but 0 and 5) or none is free. Also inside a notice. The client
 * then fills the record and calls dl_start, or gives the slot up (state 0). */
TORVANE_API int dl_set(EngineContext* ctx);

/* Starts the item in a slot in state 1. Unless TVN_OPT_MEMORY_FETCH is set,
 * notice 301 comes first and the file is opened from save_path and url when
 * the client opened none. Then state 2: the connection thread prepares the
 * item and sets state 3, or 4 under TVN_OPT_SPEED_MODE. 0: started. -1: no
 * engine runs, the slot is out of range or not in state 1; or 301 answered
 * -1 or the file could not be opened, and then the slot has state 6 and
 * notice 108 was raised on this thread. Inside a notice as the lock order
 * allows. */
TORVANE_API int dl_start(EngineContext* ctx, int slot);

/* Resumes division div of the item in a slot (-1: every division). Notice
 * 301 comes first and the file is opened as dl_start opens it. An item in
 * state 4 has its failed divisions (status 3) asked again, on the download
 * thread's next cycle. A record in a slot no engine thread serves (state 0,
 * 5 or 6; see ItemData) is prepared with its own division count and arrays,
 * each chosen division that is not done (status 2) goes back to status 0
 * with its waiting bytes dropped, and the item runs in state 4. 0: resumed.
 * -1: no engine runs, the slot is out of range or in state 1 to 3, the
 * record has no division arrays, or div is not -1 to div_count - 1; or 301
 * answered -1, the file could not be opened or the record not prepared, and
 * then the slot has state 6 and notice 108 was raised on this thread.
 * Inside a notice as the lock order allows. */
TORVANE_API int dl_resume(EngineContext* ctx, int slot, int div);

/* Stops division div of the item whose slot record `item` is (-1: the whole
 * item); a pointer into a table a resize retired reaches the live slot. The
 * download thread writes what each stopped division holds, closes it and
 * ends it (status 2 when its range is complete, else 3); the item ends when
 * all its divisions have, with notice 109 when the whole item was stopped.
 * An item in state 2 that is not prepared yet is dropped by the connection
 * thread instead (109, 112). 0: asked. -1: item is null, div is not -1 to
 * div_count - 1, or the record is neither prepared nor in state 2. Also
 * inside a notice. */
TORVANE_API int dl_stop(ItemData* item, int div);

/* Renews the connection of division div (-1: every division) of a running
 * item. A division waiting for or receiving an answer writes what it holds
 * and closes; it ends (status 2) when its range is complete, else it is
 * asked again (status 0): with count_retry 1 that uses one of its attempts,
 * and one without attempts left fails (status 3). A division still
 * connecting connects anew. From a notice of the download thread this is
 * done before the call returns; from any other thread on that thread's next
 * cycle. Takes no lock. 0, also when the slot holds no running item (then
 * nothing happens). -1: no engine runs, the slot is out of range, or div is
 * not -1 to div_count - 1. */
TORVANE_API int dl_reconnect(EngineContext* ctx, int slot, int div, int count_retry);

/* The WideSizes of the item in a slot (see TVN_SIZE_WIDE), or null when no
 * engine runs or the slot is out of range. Also inside a notice. */
TORVANE_API WideSizes* dl_wide(EngineContext* ctx, int slot);

/* Copies src with what it points at: its texts (url into a buffer of
 * TVN_URL_CAPACITY bytes), disk.file_name and its division arrays become
 * fresh engine-heap copies; extra_header is shared, not copied; conn.host,
 * request_path, the host entry and the buffer are not copied (null, and the
 * buf_ptr entries zero); disk.count_ref points at dst's div_count. A null
 * dst gets a new record from the engine heap; otherwise dst's copies are
 * freed first (free_itemdata) and a dst in state 1 stays in state 1. dst,
 * or null when src is null or memory runs out (what was made is freed, a
 * new record too). src must not change meanwhile: a copy, or a slot during
 * its final notice; dst must not be a slot the engine serves (states 2 to
 * 4). */
TORVANE_API ItemData* copy_itemdata(ItemData* dst, const ItemData* src);

/* Frees what a copy made by copy_itemdata points at (its texts but
 * extra_header, disk.file_name, conn.host, request_path, the buffer and the
 * division arrays) and nulls those pointers; the record itself and its file
 * handle stay. 0, or -1 for null. Never on a slot the engine serves. */
TORVANE_API int free_itemdata(ItemData* item);

/* A zeroed block of size bytes (1 when 0) from the heap the engine frees
 * with, or null. */
TORVANE_API void* GetMem(unsigned size);
/* p is the address of a pointer; the block it points at is freed and the
 * pointer nulled. A null p does nothing. */
TORVANE_API void FreeMem(void* p);

/* The disk exports work on the client's own DiskIO or, during notice 301, on
 * the item's; never on a disk an engine thread uses at the same time. */

/* Opens path for writing without emptying it (a resume keeps its bytes),
 * creating the missing folders; a file disk has open is closed first.
 * Sets disk->file and disk->file_name (a copy). 0, or -1 when an argument
 * is null or empty, a part of the path is a file, or the open fails. */
TORVANE_API int DiskIO_OpenFile(DiskIO* disk, const char* path);
/* Closes disk's file and frees file_name. A file that this open created and
 * that is still empty is deleted, unless another open of the engine holds
 * it. 0, or -1 when disk is null or holds no open file. */
TORVANE_API int DiskIO_CloseHandle(DiskIO* disk);
/* 0: nothing at path (or path is null); 1: a file, or anything that is not a
 * folder; 2: a folder. */
TORVANE_API int DiskIO_CheckFile(const char* path);
/* The output file's name into out (TVN_PATH_CAPACITY bytes): save_path, or,
 * when it ends in '/', save_path and the URL's last part without its query
 * ("index.html" when the URL ends in '/'). 0, or -1 when an argument is null
 * or the name does not fit (out is then empty). */
TORVANE_API int DiskIO_MakeFileName(const char* save_path, const char* url, char* out);

#ifdef __cplusplus
}
#endif

#include "torvane/tvnftp.h"

#endif /* TORVANE_TORVANE_H */
