#include "engine/tls_connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "engine/engine_state.h"
#include "platform/socket.h"

namespace torvane::engine {

// The client context and the sessions each server handed out, by host (with
// its port) and verification: a connection to a server the engine reached
// before resumes one of them and spares the full handshake (a key exchange
// and the certificate check). A session made without verification is never
// offered where verification is asked for.
struct TlsContext {
  SSL_CTX* ctx = nullptr;
  std::mutex mutex;  // guards `sessions`: both engine threads read TLS
  std::unordered_map<std::string, std::deque<SSL_SESSION*>> sessions;  // oldest first
  // The key of each server met, which each connection's SSL points at (its
  // app data) so that its new sessions find their place. Owned here rather
  // than freed by OpenSSL with the SSL: a free callback would stay
  // registered in OpenSSL's process-wide tables after this library is
  // unloaded, and the next SSL freed anywhere would call into nothing.
  std::unordered_set<std::string> keys;  // nodes never move
};

void free_tls_context(TlsContext* context) {
  if (context == nullptr) return;
  for (auto& entry : context->sessions)
    for (SSL_SESSION* session : entry.second) SSL_SESSION_free(session);
  SSL_CTX_free(context->ctx);
  delete context;
}

namespace {

constexpr std::size_t kSessionsKept = 8;
// The bytes a session reads from its socket at a time.
constexpr std::size_t kReadAhead = 64 * 1024;

std::string session_key(const std::string& host, bool verify) {
  return host + (verify ? "|verified" : "|unverified");
}

// Called by OpenSSL when the server hands out a session: after the handshake
// under TLS 1.2, with the first read under TLS 1.3 (its tickets follow the
// handshake). Keeps the newest one per key.
int keep_session(SSL* ssl, SSL_SESSION* session) {
  auto* context = static_cast<TlsContext*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  const auto* key = static_cast<const std::string*>(SSL_get_app_data(ssl));
  if (context == nullptr || key == nullptr || SSL_SESSION_is_resumable(session) != 1) return 0;
  std::lock_guard<std::mutex> lock(context->mutex);
  std::deque<SSL_SESSION*>& kept = context->sessions[*key];
  // A few per server: as many as divisions usually start at once.
  if (kept.size() == kSessionsKept) {
    SSL_SESSION_free(kept.front());
    kept.pop_front();
  }
  kept.push_back(session);
  return 1;  // the reference is ours now
}

// The session to offer on a new connection to `key`'s server, with a
// reference for the caller; null when none is kept. A TLS 1.3 session is
// spent by a successful resumption (OpenSSL then marks it), so each
// connection takes one of its own while more than one is kept; the last is
// shared until spent, as TLS 1.2 sessions always may be.
SSL_SESSION* session_to_offer(TlsContext& context, const std::string& key) {
  std::lock_guard<std::mutex> lock(context.mutex);
  const auto found = context.sessions.find(key);
  if (found == context.sessions.end()) return nullptr;
  std::deque<SSL_SESSION*>& kept = found->second;
  // Spent ones go wherever they are, so that the count below is of sessions
  // that can still resume: the last one shared is spent by its first use.
  std::erase_if(kept, [](SSL_SESSION* session) {
    if (SSL_SESSION_is_resumable(session) == 1) return false;
    SSL_SESSION_free(session);
    return true;
  });
  if (kept.empty()) return nullptr;
  SSL_SESSION* session = kept.back();
  if (kept.size() > 1 && SSL_SESSION_get_protocol_version(session) >= TLS1_3_VERSION) {
    kept.pop_back();
  } else {
    SSL_SESSION_up_ref(session);
  }
  return session;
}

struct Session {
  SSL* ssl = nullptr;  // null while a proxy tunnel is being opened
  bool ready = false;
  // The last read wanted more from the socket: what the session still
  // holds is part of a record, which only the socket can complete.
  bool drained = false;
  bool wants_read = false;
  bool tunnel_asked = false;
  bool tunnel_open = false;
  std::string tunnel_answer;
};

// The sessions of the open sockets, by descriptor: a descriptor names one
// open socket in the process at a time, and close_connection removes the
// entry before the number can be handed out again. The session itself is
// used by whichever thread owns the division's socket at the moment (the
// division status hands it over); the lock guards only the table.
std::mutex g_sessions_mutex;
std::unordered_map<std::int32_t, Session> g_sessions;

Session* find(std::int32_t fd) {
  if (fd < 0) return nullptr;
  std::lock_guard<std::mutex> lock(g_sessions_mutex);
  const auto it = g_sessions.find(fd);
  return it == g_sessions.end() ? nullptr : &it->second;
}

SSL_CTX* context_of(EngineState& engine) {
  if (engine.tls == nullptr) {
    auto* context = new TlsContext;
    context->ctx = SSL_CTX_new(TLS_client_method());
    if (context->ctx != nullptr) {
      SSL_CTX_set_min_proto_version(context->ctx, TLS1_2_VERSION);
      SSL_CTX_set_max_proto_version(context->ctx, TLS1_3_VERSION);
      // SSL_CERT_FILE and SSL_CERT_DIR choose the trust store, as for
      // other programs on the system.
      SSL_CTX_set_default_verify_paths(context->ctx);
      // A missing close_notify is judged by the bytes that arrived, as a
      // plain close is: servers routinely just close after the body.
      SSL_CTX_set_options(context->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
      SSL_CTX_set_mode(context->ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
      // Each read from the socket takes what waits, up to a few records,
      // rather than one record in two reads (its header, then its body).
      SSL_CTX_set_read_ahead(context->ctx, 1);
      // AES-128-GCM first (as browsers offer it): as safe for a download,
      // and a third less work than AES-256 on both ends of a fast transfer.
      SSL_CTX_set_ciphersuites(context->ctx,
                               "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                               "TLS_CHACHA20_POLY1305_SHA256");
      SSL_CTX_set_cipher_list(context->ctx, "ECDHE+AESGCM+AES128:DEFAULT");
      SSL_CTX_set_default_read_buffer_len(context->ctx, kReadAhead);
      SSL_CTX_set_app_data(context->ctx, context);
      SSL_CTX_set_session_cache_mode(context->ctx,
                                     SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
      SSL_CTX_sess_set_new_cb(context->ctx, keep_session);
    }
    engine.tls.reset(context);
  }
  return engine.tls->ctx;
}

// ":port" of a host text, or "" when it has none.
std::string port_of(const char* host) {
  const char* colon = host == nullptr ? nullptr : std::strchr(host, ':');
  return colon == nullptr ? std::string() : std::string(colon);
}

// Makes the session of `fd` for `host`; null when it cannot be made.
SSL* new_session(EngineState& engine, std::int32_t fd, const char* host, bool verify) {
  SSL_CTX* ctx = context_of(engine);
  if (ctx == nullptr) return nullptr;
  SSL* ssl = SSL_new(ctx);
  if (ssl == nullptr) return nullptr;
  std::string name = host == nullptr ? "" : host;
  name.resize(std::min(name.size(), name.find(':')));
  bool named = SSL_set_fd(ssl, fd) == 1;
  if (named && verify) {
    SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    // An IPv4 address is checked against the certificate's IP entries; a
    // name against its DNS names, and sent as the server name.
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) != 1) {
      named =
          SSL_set1_host(ssl, name.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, name.c_str()) == 1;
    }
  } else if (named && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) != 1) {
    named = SSL_set_tlsext_host_name(ssl, name.c_str()) == 1;
  }
  const std::string* key = nullptr;
  {
    std::lock_guard<std::mutex> lock(engine.tls->mutex);
    key = &*engine.tls->keys.insert(session_key(name + port_of(host), verify)).first;
  }
  if (!named || SSL_set_app_data(ssl, const_cast<std::string*>(key)) != 1) {
    SSL_free(ssl);
    return nullptr;
  }
  // A session the server no longer takes costs nothing: it answers with a
  // full handshake.
  if (SSL_SESSION* offered = session_to_offer(*engine.tls, *key)) {
    SSL_set_session(ssl, offered);
    SSL_SESSION_free(offered);
  }
  SSL_set_connect_state(ssl);
  return ssl;
}

}  // namespace

TlsStep proxy_tunnel(std::int32_t fd, const char* target, std::string& reason) {
  Session* session = find(fd);
  if (session == nullptr) {
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    session = &(g_sessions[fd] = Session{});
  }
  if (session->tunnel_open) return TlsStep::kReady;
  session->wants_read = true;
  if (!session->tunnel_asked) {
    std::string authority = target == nullptr ? "" : target;
    if (authority.find(':') == std::string::npos) authority += ":443";
    const std::string request =
        "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n\r\n";
    if (platform::socket_send(fd, request.data(), request.size()) !=
        static_cast<long>(request.size())) {
      reason = "the proxy closed the connection";
      return TlsStep::kFailed;
    }
    session->tunnel_asked = true;
  }
  // The proxy says nothing after its answer until the client hello, so
  // whatever arrives belongs to the answer.
  char chunk[1024];
  const long got = platform::socket_recv(fd, chunk, sizeof chunk);
  if (got == platform::kRecvWouldBlock || got == platform::kRecvInterrupted)
    return TlsStep::kWantRead;
  if (got > 0) session->tunnel_answer.append(chunk, static_cast<std::size_t>(got));
  const std::string& answer = session->tunnel_answer;
  const std::size_t end = answer.find("\r\n\r\n");
  if (got > 0 && end == std::string::npos && answer.size() < 16384) return TlsStep::kWantRead;
  const std::string status = answer.substr(0, answer.find_first_of("\r\n"));
  // "HTTP/1.x 2xx": the tunnel is open.
  const std::size_t code = status.find(' ');
  if (end != std::string::npos && code != std::string::npos && status.compare(0, 5, "HTTP/") == 0 &&
      code + 1 < status.size() && status[code + 1] == '2') {
    session->tunnel_open = true;
    session->wants_read = false;
    return TlsStep::kReady;
  }
  reason = status.empty() ? "the proxy closed the connection" : status;
  return TlsStep::kFailed;
}

TlsStep tls_handshake(EngineState& engine, std::int32_t fd, const char* host, bool verify,
                      std::string& reason) {
  Session* session = find(fd);
  if (session == nullptr || session->ssl == nullptr) {
    SSL* ssl = new_session(engine, fd, host, verify);
    if (ssl == nullptr) return TlsStep::kFailed;
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    if (session == nullptr) session = &g_sessions[fd];
    session->ssl = ssl;
    session->ready = false;
    session->wants_read = false;
  }
  if (session->ready) return TlsStep::kReady;
  ERR_clear_error();
  const int done = SSL_do_handshake(session->ssl);
  if (done == 1) {
    session->ready = true;
    session->wants_read = false;
    return TlsStep::kReady;
  }
  const int error = SSL_get_error(session->ssl, done);
  session->wants_read = error == SSL_ERROR_WANT_READ;
  if (error == SSL_ERROR_WANT_READ) return TlsStep::kWantRead;
  if (error == SSL_ERROR_WANT_WRITE) return TlsStep::kWantWrite;
  const long verdict = SSL_get_verify_result(session->ssl);
  if (verify && verdict != X509_V_OK) {
    std::string name = host == nullptr ? "" : host;
    name.resize(std::min(name.size(), name.find(':')));
    reason = std::string("certificate verify failed: ") + X509_verify_cert_error_string(verdict) +
             " (" + name + ")";
    return TlsStep::kRejected;
  }
  const unsigned long failure = ERR_peek_last_error();
  const char* text = failure != 0 ? ERR_reason_error_string(failure) : nullptr;
  reason = text != nullptr ? text : "the server closed the connection";
  return TlsStep::kFailed;
}

bool tls_active(std::int32_t fd) {
  return find(fd) != nullptr;
}

bool tls_wants_read(std::int32_t fd) {
  const Session* session = find(fd);
  return session != nullptr && !session->ready && session->wants_read;
}

long connection_send(std::int32_t fd, const void* data, std::size_t size) {
  Session* session = find(fd);
  if (session == nullptr || session->ssl == nullptr) return platform::socket_send(fd, data, size);
  if (size == 0) return 0;
  ERR_clear_error();
  const int sent = SSL_write(session->ssl, data, static_cast<int>(size));
  return sent > 0 ? sent : -1;
}

namespace {

// One read through a session, with platform::socket_recv's results.
long session_recv(Session& session, void* data, std::size_t size) {
  ERR_clear_error();
  SSL* ssl = session.ssl;
  const int got = SSL_read(ssl, data, static_cast<int>(std::min<std::size_t>(size, 1u << 30)));
  session.drained = false;
  if (got > 0) return got;
  switch (SSL_get_error(ssl, got)) {
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_WANT_READ:
      session.drained = true;
      return platform::kRecvWouldBlock;
    case SSL_ERROR_WANT_WRITE:
      return platform::kRecvWouldBlock;
    case SSL_ERROR_SYSCALL:
      // With unexpected EOFs ignored a bare close reads as ZERO_RETURN; a
      // system error here is a reset or worse.
      return platform::kRecvReset;
    default:
      return platform::kRecvError;
  }
}

}  // namespace

long connection_recv(std::int32_t fd, void* data, std::size_t size) {
  Session* session = find(fd);
  if (session == nullptr || session->ssl == nullptr) return platform::socket_recv(fd, data, size);
  return session_recv(*session, data, size);
}

long connection_recv_all(std::int32_t fd, char* data, std::size_t size, std::size_t& received) {
  received = 0;
  Session* session = find(fd);
  const bool secure = session != nullptr && session->ssl != nullptr;
  long got = 0;
  while (received < size) {
    got = secure ? session_recv(*session, data + received, size - received)
                 : platform::socket_recv(fd, data + received, size - received);
    if (got <= 0) break;
    received += static_cast<std::size_t>(got);
  }
  return got;
}

bool tls_pending(std::int32_t fd) {
  const Session* session = find(fd);
  // Records read ahead count too, as no socket probe shows them either; but
  // not the part of a record that a read found incomplete.
  return session != nullptr && session->ready &&
         (SSL_pending(session->ssl) > 0 ||
          (!session->drained && SSL_has_pending(session->ssl) == 1));
}

void close_connection(std::int32_t& fd) {
  if (fd >= 0) {
    SSL* ssl = nullptr;
    {
      std::lock_guard<std::mutex> lock(g_sessions_mutex);
      const auto it = g_sessions.find(fd);
      if (it != g_sessions.end()) {
        ssl = it->second.ssl;
        g_sessions.erase(it);
      }
    }
    // No close_notify: the socket is shut at once either way, and a
    // shutdown could only block or fail on a dead peer. The quiet shutdown
    // sends nothing; it tells OpenSSL the connection ended on purpose, which
    // a bare free would take for a fault, marking the server's session as
    // not to be resumed. (A fatal TLS error has marked it already.)
    if (ssl != nullptr && SSL_is_init_finished(ssl)) {
      SSL_set_quiet_shutdown(ssl, 1);
      SSL_shutdown(ssl);
    }
    SSL_free(ssl);
  }
  platform::socket_close(fd);
}

}  // namespace torvane::engine
