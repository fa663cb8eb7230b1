// The login steps of one FTP control connection: connect, read the greeting,
// send USER and read its reply, send PASS and read its reply. Each call takes
// at most one step and never waits: sockets are probed with zero time-outs
// and a step that cannot proceed is tried again on the next cycle.
#include <cstdlib>
#include <cstring>

#include "engine/ftp/ftp_layer.h"
#include "platform/socket.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

enum class Queued { kOk, kRetry, kRejected };

void free_text(TvnFtpConnection& record) {
  std::free(record.text);
  record.text = nullptr;
  record.reply_capacity = 0;
  record.reply_fill = 0;
}

void mark_failed(TvnFtpConnection& record) {
  if (record.conn.sockets != nullptr) platform::socket_close(*record.conn.sockets);
  free_text(record);
  set_bits(record.login_bits, TVN_FTP_LOGIN_FAILED);
}

// Stores a copy of the command line, replacing a text still stored.
Queued queue_command(TvnFtpConnection& record, const char* verb) {
  char line[TVN_FTP_COMMAND_CAPACITY];
  const int len = ftp_format_command(verb, record.login, line);
  if (len < 0) return Queued::kRejected;
  char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(len) + 1));
  if (copy == nullptr) return Queued::kRetry;
  std::memcpy(copy, line, static_cast<std::size_t>(len) + 1);
  free_text(record);
  record.text = copy;
  return Queued::kOk;
}

void send_command(TvnFtpConnection& record) {
  std::int32_t& fd = *record.conn.sockets;
  if (record.text == nullptr) {  // nothing to send after all
    clear_bits(record.io_bits, TVN_FTP_IO_COMMAND_WAITING);
    return;
  }
  if (fd < 0 || platform::socket_error_condition(fd)) {
    mark_failed(record);
    return;
  }
  if (!platform::socket_writable(fd)) return;
  const std::size_t len = std::strlen(record.text);
  const long sent = platform::socket_send(fd, record.text, len);
  if (sent < 0) {
    mark_failed(record);
    return;
  }
  if (static_cast<std::size_t>(sent) < len) {
    // Keep the unsent tail queued: dropping it would leave the server a
    // half command that swallows the next one.
    std::memmove(record.text, record.text + sent, len - static_cast<std::size_t>(sent) + 1);
    return;
  }
  free_text(record);
  clear_bits(record.io_bits, TVN_FTP_IO_COMMAND_WAITING);
}

void read_reply(TvnFtpConnection& record) {
  std::int32_t& fd = *record.conn.sockets;
  if (fd < 0 || platform::socket_error_condition(fd)) {
    mark_failed(record);
    return;
  }
  if (!platform::socket_readable(fd)) return;
  if (record.text == nullptr) {
    record.text = static_cast<char*>(std::malloc(TVN_FTP_REPLY_CHUNK));
    if (record.text == nullptr) return;  // no memory now: try again next cycle
    record.reply_capacity = TVN_FTP_REPLY_CHUNK;
    record.reply_fill = 0;
  }
  const std::size_t room = static_cast<std::size_t>(record.reply_capacity - record.reply_fill);
  const long got = platform::socket_recv(fd, record.text + record.reply_fill, room);
  if (got == platform::kRecvWouldBlock || got == platform::kRecvInterrupted) return;
  // A peer that closes before the reply is complete would otherwise leave a
  // socket that reads as ready forever while no reply can ever arrive.
  if (got <= 0) {
    mark_failed(record);
    return;
  }
  record.reply_fill += static_cast<std::int32_t>(got);
  // Tested after every read, so a reply that arrives in one piece is taken
  // at once rather than on some later read.
  if (ftp_reply_complete(record.text, static_cast<std::size_t>(record.reply_fill))) {
    free_text(record);
    clear_bits(record.io_bits, TVN_FTP_IO_REPLY_AWAITED);
    return;
  }
  if (record.reply_fill < record.reply_capacity) return;
  if (record.reply_capacity >= TVN_FTP_REPLY_LIMIT) {
    mark_failed(record);  // a reply without end must not exhaust memory
    return;
  }
  char* grown = static_cast<char*>(std::realloc(
      record.text, static_cast<std::size_t>(record.reply_capacity) + TVN_FTP_REPLY_CHUNK));
  if (grown == nullptr) {
    mark_failed(record);
    return;
  }
  record.text = grown;
  record.reply_capacity += TVN_FTP_REPLY_CHUNK;
}

// Started: resolve, connect, and wait until the connect has completed. A
// refused or unreachable peer only shows after connect() has returned, so a
// socket in the error condition is a connect failure too: closed and tried
// again next cycle, never counted.
void connect_step(FtpState& ftp, TvnFtpConnection& record) {
  std::int32_t& fd = *record.conn.sockets;
  if (fd < 0) {
    if (platform::resolve_ipv4(record.conn.host, ftp.host_entry.address) != 0) return;
    ftp.host_entry.length = 4;
    record.conn.host_entry = &ftp.host_entry;
    platform::fill_ipv4_address(record.conn.address, ftp.host_entry.address,
                                static_cast<std::uint16_t>(record.conn.port));
    if (platform::tcp_socket_open(fd) != 0) {
      platform::socket_close(fd);  // a socket that is not non-blocking is of no use
      return;
    }
    if (platform::tcp_connect_start(fd, record.conn.address) != 0) {
      platform::socket_close(fd);
      return;
    }
  }
  if (platform::socket_error_condition(fd)) {
    platform::socket_close(fd);
    return;
  }
  if (!platform::socket_writable(fd)) return;  // still connecting
  // The server speaks first: its greeting is the first reply to read, so
  // that each later reply is the answer to the command just sent.
  set_bits(record.io_bits, TVN_FTP_IO_REPLY_AWAITED);
  set_bits(record.login_bits, TVN_FTP_LOGIN_CONNECTED);
}

void next_login_step(FtpState& ftp, TvnFtpConnection& record) {
  const std::uint32_t login = load_acquire(record.login_bits);
  if (login & TVN_FTP_LOGIN_PASS_SENT) {
    clear_bits(record.io_bits, TVN_FTP_IO_READY);  // nothing follows PASS
    return;
  }
  if (login & (TVN_FTP_LOGIN_USER_SENT | TVN_FTP_LOGIN_CONNECTED)) {
    const bool pass = (login & TVN_FTP_LOGIN_USER_SENT) != 0;
    const Queued queued = queue_command(record, pass ? "PASS" : "USER");
    if (queued == Queued::kRejected) mark_failed(record);
    if (queued != Queued::kOk) return;
    // io bits first: whoever sees the new login bit also sees the wait.
    set_bits(record.io_bits, TVN_FTP_IO_COMMAND_WAITING | TVN_FTP_IO_REPLY_AWAITED);
    if (pass) clear_bits(record.io_bits, TVN_FTP_IO_READY);
    set_bits(record.login_bits, pass ? TVN_FTP_LOGIN_PASS_SENT : TVN_FTP_LOGIN_USER_SENT);
    return;
  }
  if (login & TVN_FTP_LOGIN_STARTED) {
    connect_step(ftp, record);
    return;
  }
  platform::socket_close(*record.conn.sockets);
  set_bits(record.login_bits, TVN_FTP_LOGIN_STARTED);
}

}  // namespace

void ftp_step(FtpState& ftp, TvnFtpConnection& record) {
  if (load_acquire(record.login_bits) & TVN_FTP_LOGIN_FAILED) return;
  const std::uint32_t io = load_acquire(record.io_bits);
  const std::uint32_t work =
      TVN_FTP_IO_READY | TVN_FTP_IO_COMMAND_WAITING | TVN_FTP_IO_REPLY_AWAITED;
  if ((io & work) == 0) return;
  if (record.conn.sockets == nullptr) {  // the caller gave no socket variable
    mark_failed(record);
    return;
  }
  if (io & TVN_FTP_IO_COMMAND_WAITING) {
    send_command(record);
  } else if (io & TVN_FTP_IO_REPLY_AWAITED) {
    read_reply(record);
  } else {
    next_login_step(ftp, record);
  }
}

bool ftp_watch(TvnFtpConnection& record, platform::WaitSet& waits) {
  const std::uint32_t login = load_acquire(record.login_bits);
  if ((login & TVN_FTP_LOGIN_FAILED) || record.conn.sockets == nullptr) return false;
  const std::uint32_t io = load_acquire(record.io_bits);
  const std::int32_t fd = *record.conn.sockets;
  if (io & TVN_FTP_IO_COMMAND_WAITING) {
    waits.watch_writable(fd);
  } else if (io & TVN_FTP_IO_REPLY_AWAITED) {
    waits.watch_readable(fd);
  } else if (io & TVN_FTP_IO_READY) {
    if ((login & TVN_FTP_LOGIN_CONNECTED) || !(login & TVN_FTP_LOGIN_STARTED)) return true;
    // Connecting: wait for the outcome; with no socket the pause is the
    // interval between attempts.
    waits.watch_writable(fd);
  }
  return false;
}

void ftp_release(TvnFtpConnection& record) {
  if (record.conn.sockets != nullptr) platform::socket_close(*record.conn.sockets);
  free_text(record);
}

}  // namespace torvane::engine
