/*
 * tvnftp.h - the engine's FTP control-connection layer: its context, its
 * connection records and the two exports that start and stop its thread.
 *
 * Clients include torvane.h, which includes this file. The layer carries FTP
 * control connections through connecting, the server greeting and the login
 * commands USER and PASS; it transfers no files and sends nothing after PASS.
 *
 * The records are part of the interface: field order and integer widths are
 * fixed. On a 32-bit build TvnFtpContext is 36 bytes and TvnFtpConnection
 * 136 bytes; pointers and handles have the platform's width, so on 64-bit
 * builds both are larger.
 *
 * Life of the layer:
 *  - The caller zeroes a TvnFtpContext, sets wanted_count, wait_ms and the
 *    callback, and calls tvnftp_init. The layer's thread allocates the table
 *    of wanted_count + 10 zeroed records on its first cycle and raises notice
 *    201 (TVN_NOTICE_RESIZED) on that thread.
 *  - To use a record the caller pauses the thread (set TVN_CTL_STOP, wait for
 *    TVN_CTL_STOP_OK), fills the record - `conn.sockets` pointing at a socket
 *    variable holding -1, `conn.host` (host name or dotted address),
 *    `conn.port`, `login` - sets TVN_FTP_IO_READY in io_bits, and clears
 *    TVN_CTL_STOP and TVN_CTL_STOP_OK together. The thread sets StopOK only
 *    while Stop is set, so StopOK never outlives the pause it confirms.
 *  - To grow the table the caller stores a new wanted_count and sets
 *    TVN_RESIZE_REQUEST in resize_ctl; notice 201 follows, during which
 *    TVN_RESIZE_DONE tells whether it succeeded. The table may move: record
 *    pointers taken before are stale afterwards. The table never shrinks.
 *  - tvnftp_end stops the thread, which closes every record's socket (the
 *    caller's socket variables become -1), frees the layer's buffers and the
 *    table, and sets records to null and record_count to 0.
 *
 * Ownership: `conn.host`, `login` and the socket variables belong to the
 * caller and must stay valid until tvnftp_end has returned. `text` and the
 * table belong to the layer.
 *
 * Threading: login_bits and io_bits are written by the layer's thread with
 * atomic read-modify-write operations; other threads read them with acquire
 * (torvane/shared_access.hpp). Every other field of a record in use belongs
 * to the layer's thread until the caller has paused it. The caller changes
 * thread_ctl and resize_ctl with atomic read-modify-write operations
 * (set_bits, clear_bits) and stores wanted_count with release; it reads
 * record_count and records with acquire. The layer takes no lock, so its
 * callback may take the caller's locks; both exports may be called from any
 * thread, and inside notice 201 tvnftp_end only ends the thread later (see
 * below).
 */
#ifndef TORVANE_TVNFTP_H
#define TORVANE_TVNFTP_H

#include "torvane/torvane.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TvnFtpContext TvnFtpContext;

/* Notice callback of the FTP layer: the same arguments as the engine's, with
 * the FTP context first. The only notice is 201 (slot and division 0, data
 * null); its result is ignored. */
typedef int (*TvnFtpCallback)(TvnFtpContext* ctx, int code, int slot, int div, void* data);

/* login_bits of a connection record. */
enum {
  TVN_FTP_LOGIN_STARTED = 0x4,
  TVN_FTP_LOGIN_CONNECTED = 0x8,
  TVN_FTP_LOGIN_USER_SENT = 0x10,
  TVN_FTP_LOGIN_PASS_SENT = 0x20,
  TVN_FTP_LOGIN_FAILED = 0x200
};

/* io_bits of a connection record. */
enum {
  TVN_FTP_IO_READY = 0x4,           /* ready for the next login step */
  TVN_FTP_IO_COMMAND_WAITING = 0x8, /* `text` holds a command to send */
  TVN_FTP_IO_REPLY_AWAITED = 0x10   /* `text` is (or will be) the reply buffer */
};

/* The reply buffer starts at this size and grows by it while a reply is
 * incomplete; a reply larger than TVN_FTP_REPLY_LIMIT fails the record. */
#define TVN_FTP_REPLY_CHUNK 16384
#define TVN_FTP_REPLY_LIMIT (64 * TVN_FTP_REPLY_CHUNK)
/* USER and PASS lines, CR LF and terminating NUL included, fit this many
 * bytes; a login text that would not fails the record. */
#define TVN_FTP_COMMAND_CAPACITY 256

struct TvnFtpContext {
  int32_t wanted_count;    /* wanted number of connection records */
  int32_t record_count;    /* records allocated (written by the layer) */
  TvnFtpCallback callback; /* may be null */
  int32_t wait_ms;         /* pause per cycle; none when 0 or less */
  uint32_t thread_ctl;     /* TVN_CTL_* bits */
  void* thread;            /* handle: layer-internal, opaque; null when not running */
  uint32_t thread_id;
  uint32_t resize_ctl;              /* TVN_RESIZE_REQUEST, TVN_RESIZE_DONE */
  struct TvnFtpConnection* records; /* owned by the layer */
};

typedef struct TvnFtpConnection {
  uint32_t login_bits;    /* TVN_FTP_LOGIN_* */
  uint32_t io_bits;       /* TVN_FTP_IO_* */
  char* text;             /* command waiting to be sent, or the reply buffer */
  int32_t reply_capacity; /* bytes */
  int32_t reply_fill;     /* bytes */
  ConnInfo conn;          /* sockets: the caller's socket variable; host; port */
  uint32_t reserved[19];  /* unused, stays zero */
  char* login;            /* sent with USER and with PASS */
  uint32_t reserved_tail; /* unused, stays zero */
} TvnFtpConnection;

/* Starts the layer's thread. mode above 0: -1, nothing done. -1 also for a
 * null context or one whose thread is already running. Clears thread_ctl,
 * requests the first table allocation when wanted_count is above 0, starts
 * the thread. 0, or -2 when the thread cannot be started. */
TORVANE_API int tvnftp_init(TvnFtpContext* ctx, int mode);

/* Sets End, wakes the thread and waits for it without time limit. 0 with
 * TVN_CTL_END_OK, or -1 with TVN_CTL_END_FAIL when the thread cannot be
 * joined (called from the layer's own thread, e.g. inside notice 201; a
 * later call from another thread then completes the end). -1 without
 * further effect when the layer is not running. */
TORVANE_API int tvnftp_end(TvnFtpContext* ctx);

#ifdef __cplusplus
}
#endif

#endif /* TORVANE_TVNFTP_H */
