// Internals of the FTP control-connection layer: the state behind a running
// TvnFtpContext, the per-record login steps its thread takes, and the pure
// pieces (complete-reply test, command formatting) that the steps rely on.
//
// Everything here runs on the layer's own thread unless stated otherwise.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "engine/url_split.h"
#include "platform/wait_set.h"
#include "torvane/torvane.h"

namespace torvane::engine {

// Lives from tvnftp_init to tvnftp_end; the context's `thread` field points
// at it.
struct FtpState {
  explicit FtpState(TvnFtpContext* ctx) : ctx(ctx) {}

  TvnFtpContext* const ctx;
  platform::WakeEvent wake;  // tvnftp_end signals it to cut the pause short
  std::thread thread;
  // Kernel id of the thread, stored by the thread itself before its first
  // cycle: `thread` is still being assigned then, so it is not asked.
  std::atomic<std::uint32_t> thread_tid{0};
  // The resolution result the records' host_entry points at; the address is
  // filled from it straight after the lookup, so one entry serves them all.
  HostEntry host_entry{};
};

// The state of a running layer, or null. Any thread.
FtpState* ftp_state_of(const TvnFtpContext* ctx);

// Thread body: runs cycles until End, then releases the table.
void run_ftp_thread(FtpState& ftp);

// True when `data[0..len)` holds a complete FTP reply: it begins with three
// digits and a space, or a line that follows a run of CR/LF does (the final
// line; "NNN-" lines continue a reply). Reads nothing beyond `len`.
bool ftp_reply_complete(const char* data, std::size_t len);

// Formats "<verb> <login>\r\n" into `line`. Returns its length, or -1 when the
// login is null, holds CR or LF (it would inject a second command), or the
// line with its NUL would not fit TVN_FTP_COMMAND_CAPACITY bytes.
int ftp_format_command(const char* verb, const char* login, char (&line)[TVN_FTP_COMMAND_CAPACITY]);

// One step of one record, chosen by its io and login bits. Failed and idle
// records are left alone.
void ftp_step(FtpState& ftp, TvnFtpConnection& record);

// Adds the socket the record's next step waits for to `waits`. Returns true
// when the record has work that needs no socket event (a command to queue),
// so the pause should be skipped.
bool ftp_watch(TvnFtpConnection& record, platform::WaitSet& waits);

// Closes the record's socket and frees its text (the table is going away).
void ftp_release(TvnFtpConnection& record);

}  // namespace torvane::engine
