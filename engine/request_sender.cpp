// Sending the requests that are due for a running item (connection thread).
// Nothing here waits: a connection that is not writable yet is tried again
// on the next cycle.
#include <string>

#include "engine/http_message.h"
#include "engine/item_lifecycle.h"
#include "engine/item_restart.h"
#include "engine/item_state.h"
#include "engine/threads.h"
#include "engine/tls_connection.h"
#include "engine/url_split.h"
#include "platform/socket.h"
#include "platform/wait_set.h"
#include "torvane/shared_access.hpp"

namespace torvane::engine {
namespace {

// Results of one send.
constexpr int kSent = 0;
constexpr int kNoSocket = 1;
constexpr int kConnectFailed = 2;
constexpr int kSendFailed = 3;
constexpr int kNotYet = 4;
constexpr int kRefused = 5;        // the server refused the connection
constexpr int kRejected = 6;       // the server's certificate did not pass
constexpr int kTunnelRefused = 7;  // the proxy would not open a tunnel
constexpr int kHandshakeFailed = 8;

// A connect that fails at once (no route, an address that cannot be
// reached) counts as well: retried for free it would be tried every cycle
// for ever.
bool send_failed(int result) {
  return result == kSendFailed || result == kRefused || result == kConnectFailed ||
         result == kRejected || result == kTunnelRefused || result == kHandshakeFailed;
}

constexpr const char* kUnverifiedNote =
    "(the server's certificate is not verified: TLSVerify=0)\r\n";

// Why the last certificate, tunnel or handshake on this thread failed.
thread_local std::string t_rejection;

// The TLS handshake of an https:// connection, one step per cycle once the
// connect is done. kSent when the request may go out.
int secure_connection(EngineState& engine, ItemData& item, std::int32_t& fd) {
  if (!tls_active(fd) && !platform::socket_writable(fd)) return kNotYet;
  // Through the proxy, TLS runs inside a tunnel to the URL's host.
  const bool via_proxy = (item.options & TVN_OPT_USE_PROXY) != 0 && item.proxy != nullptr;
  if (via_proxy) {
    const TlsStep tunnel = proxy_tunnel(fd, item.conn.host, t_rejection);
    if (tunnel == TlsStep::kWantRead) return kNotYet;
    if (tunnel != TlsStep::kReady) {
      close_connection(fd);
      return kTunnelRefused;
    }
  }
  const bool verify = (item.options & TVN_OPT_NO_TLS_VERIFY) == 0;
  // With its port, which tells sessions of two servers on one host apart.
  // Reached directly the host was cut at its port, which is in conn.port;
  // through the proxy it keeps the URL's, and 443 is the default.
  std::string server = item.conn.host == nullptr ? "" : item.conn.host;
  if (server.find(':') == std::string::npos)
    server += ":" + std::to_string(via_proxy ? 443 : static_cast<std::uint16_t>(item.conn.port));
  switch (tls_handshake(engine, fd, server.c_str(), verify, t_rejection)) {
    case TlsStep::kReady:
      return kSent;
    case TlsStep::kWantRead:
    case TlsStep::kWantWrite:
      return kNotYet;
    case TlsStep::kRejected:
      close_connection(fd);
      return kRejected;
    case TlsStep::kFailed:
      break;
  }
  close_connection(fd);
  return kHandshakeFailed;
}

// The request text buffer is reused: after the first requests no send
// allocates.
thread_local std::string t_request;
// The text the client is shown: the request with its credentials masked.
thread_local std::string t_shown;

int send_request(EngineState& engine, int slot, ItemData& item, int b, bool head) {
  if (!head && load_acquire(item.div_status[b]) == TVN_DIV_SENT) return kNotYet;
  std::int32_t& fd = item.conn.sockets[b];
  if (fd < 0) {
    const int started = connect_division(item, b);
    if (started != 0) return started == 1 ? kNoSocket : kConnectFailed;
  }
  bool refused = false;
  if (platform::socket_error_condition(fd, &refused)) {
    close_connection(fd);
    return refused ? kRefused : kSendFailed;
  }
  if (url_is_https(item.url)) {
    if (const int secured = secure_connection(engine, item, fd); secured != kSent) return secured;
  } else if (!platform::socket_writable(fd)) {
    return kNotYet;
  }
  if (head) {
    build_head_request(item, t_request);
  } else {
    // Every ranged request names the version its bytes must be of: a server
    // that holds another one answers with the whole file instead.
    build_get_request(item, engine.sizes(slot, item).next_byte(b), t_request,
                      item_validator(engine.answers(slot), item));
  }
  const long sent = connection_send(fd, t_request.data(), t_request.size());
  if (sent != static_cast<long>(t_request.size())) {
    close_connection(fd);
    return kSendFailed;
  }
  // The client writes these texts into logs: a password must not get there.
  const bool masked = mask_credentials(t_request, t_shown);
  // Said once per item, in the text the client logs with the request.
  const bool note = (item.options & TVN_OPT_NO_TLS_VERIFY) != 0 && url_is_https(item.url) &&
                    first_time(item, kRunUnverifiedSaid);
  if (note) {
    if (!masked) t_shown = t_request;
    t_shown += kUnverifiedNote;
  }
  const std::string& shown = masked || note ? t_shown : t_request;
  notify_text(engine.ctx, head ? TVN_NOTICE_HEAD_SENT : TVN_NOTICE_GET_SENT, slot, b, shown.data(),
              shown.size());
  // Hands the division to the download thread.
  set_division_status(item, b, TVN_DIV_SENT);
  return kSent;
}

bool due(ItemData& item, int b) {
  return load_acquire(item.div_status[b]) < TVN_DIV_SENT && load_acquire(item.div_stop[b]) != 1;
}

// A failed GET send uses one attempt; the last one fails the whole item,
// which the download thread then finishes. False when the item failed. A
// refused connection is said then (`result` kRefused): refusals that a
// later attempt gets past are no reason for anything.
bool use_attempt(EngineState& engine, int slot, ItemData& item, int b, int result = kSendFailed) {
  const int left = load_relaxed(item.div_retries[b]);
  // Another attempt would meet the same certificate: the item fails now.
  if (result == kRejected) {
    if (first_time(item, kRunFailureSaid)) notify_message(engine.ctx, slot, t_rejection);
    set_item_state(item, TVN_STATE_FAILED);
    engine.post(SlotRequest{SlotRequest::kFinish, slot, 0, 0});
    return false;
  }
  if (left < 2) {
    if (result == kTunnelRefused && first_time(item, kRunFailureSaid))
      notify_message(engine.ctx, slot, "the proxy refused the tunnel: " + t_rejection);
    if (result == kHandshakeFailed && first_time(item, kRunFailureSaid)) {
      notify_message(engine.ctx, slot,
                     "TLS handshake failed: " + t_rejection + " (" + connect_target(item) + ")");
    }
    if ((result == kRefused || result == kConnectFailed) && first_time(item, kRunFailureSaid)) {
      notify_message(engine.ctx, slot,
                     std::string(result == kRefused ? "connection refused: " : "cannot connect: ") +
                         connect_target(item));
    }
    set_item_state(item, TVN_STATE_FAILED);
    engine.post(SlotRequest{SlotRequest::kFinish, slot, 0, 0});
    return false;
  }
  store_relaxed(item.div_retries[b], left - 1);
  return true;
}

// A reconnect that the download thread handed on: a division that is still
// connecting gets a fresh connect, and a counted reconnect uses an attempt
// as a failed send does. One that connected and sent meanwhile, or has no
// socket, is left alone. False when the item failed.
bool drop_pending_connects(EngineState& engine, int slot, ItemData& item) {
  const int n = load_acquire(item.div_count);
  for (const SlotRequest& drop : engine.take_connect_drops(slot)) {
    const int b = drop.div;
    if (b < 0 || b >= n || load_acquire(item.div_status[b]) != TVN_DIV_IDLE) continue;
    if (item.conn.sockets[b] < 0) continue;
    close_connection(item.conn.sockets[b]);
    if (drop.count_retry == 1 && !use_attempt(engine, slot, item, b)) return false;
  }
  return true;
}

}  // namespace

void send_due_requests(EngineState& engine, int slot, ItemData& item) {
  if (item.div_status == nullptr || item.div_stop == nullptr) return;
  if (!drop_pending_connects(engine, slot, item)) return;
  const int state = load_acquire(item.state);
  if (state == TVN_STATE_PROBING) {
    // A HEAD that cannot reach the server (refused, reset while connecting)
    // uses an attempt too: otherwise a dead host is retried forever.
    if (!due(item, 0)) return;
    if (const int sent = send_request(engine, slot, item, 0, true); send_failed(sent))
      use_attempt(engine, slot, item, 0, sent);
    return;
  }
  const std::uint32_t flags = load_acquire(item.run_flags);
  if (size_probe_running(flags)) {
    if (due(item, 0)) {
      const int sent = send_request(engine, slot, item, 0, false);
      if (send_failed(sent) && !use_attempt(engine, slot, item, 0, sent)) return;
    }
    if (load_acquire(item.div_status[0]) == TVN_DIV_SENT && (flags & TVN_RUN_PROBE_PENDING)) {
      // SENT before PENDING goes: for one moment between the two the flags
      // would show no probe at all, and the download thread would take the
      // probe's answer for an ordinary one (no size, no ranges), then wait
      // for ever for divisions that nobody sends.
      set_bits(item.run_flags, TVN_RUN_PROBE_SENT);
      clear_bits(item.run_flags, TVN_RUN_PROBE_PENDING);
    }
    return;
  }
  const int n = load_acquire(item.div_count);
  for (int b = 0; b < n; ++b) {
    if (!due(item, b)) continue;
    const int sent = send_request(engine, slot, item, b, false);
    if (send_failed(sent) && !use_attempt(engine, slot, item, b, sent)) return;
  }
}

bool watch_connecting(ItemData& item, platform::WaitSet& waits) {
  if (item.div_status == nullptr || item.conn.sockets == nullptr || item.div_stop == nullptr)
    return false;
  const int state = load_acquire(item.state);
  const bool one = state == TVN_STATE_PROBING || size_probe_running(load_acquire(item.run_flags));
  const int n = one ? 1 : load_acquire(item.div_count);
  bool due_now = false;
  for (int b = 0; b < n; ++b) {
    if (!due(item, b)) continue;
    if (item.conn.sockets[b] < 0) {
      due_now = true;
    } else if (tls_wants_read(item.conn.sockets[b])) {
      waits.watch_readable(item.conn.sockets[b]);  // a handshake awaits the server
    } else {
      waits.watch_writable(item.conn.sockets[b]);
    }
  }
  return due_now;
}

}  // namespace torvane::engine
