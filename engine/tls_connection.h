// TLS over a division's socket for https:// URLs: one client context per
// engine, and the session of each open socket, kept here by descriptor and
// never in the records. Every socket the engine closes goes through
// close_connection, which frees its session first, so a reconnect always
// starts a fresh handshake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "torvane/torvane.h"

namespace torvane::engine {

class EngineState;

// The engine's client context (opaque here: no OpenSSL type leaves
// tls_connection.cpp). Built on first use by the connection thread.
struct TlsContext;
void free_tls_context(TlsContext* context);

// Where a connection's handshake stands after one step.
enum class TlsStep {
  kReady,      // the handshake is done: the request may go out
  kWantRead,   // waits for the socket to become readable
  kWantWrite,  // waits for the socket to become writable
  kFailed,     // the connection failed (reset, closed, a protocol error): `reason`
  kRejected,   // the server's certificate did not pass: `reason` says why
};

// Opens a tunnel through the HTTP proxy that socket `fd` is connected to:
// sends "CONNECT host:port" (`target` is the URL's host with its port, 443
// added when it has none), then reads the proxy's answer across calls.
// kReady once the proxy answered 2xx; kFailed with its status line in
// `reason` when it refused or closed.
TlsStep proxy_tunnel(std::int32_t fd, const char* target, std::string& reason);

// Drives the handshake of socket `fd` to `host` (a name or a dotted IPv4
// address with its ":port", which only tells servers apart) one step without
// blocking; the first step makes the connection's state and offers the last
// session this server handed out to the engine, so that divisions after the
// first resume it. `verify` false accepts any certificate.
TlsStep tls_handshake(EngineState& engine, std::int32_t fd, const char* host, bool verify,
                      std::string& reason);

// True when `fd` carries a session (whose handshake may be under way).
bool tls_active(std::int32_t fd);
// True when the session's last step waits for readability.
bool tls_wants_read(std::int32_t fd);

// Sends in one call, through the socket's session when it has one: bytes
// sent, or -1.
long connection_send(std::int32_t fd, const void* data, std::size_t size);
// Receives, through the socket's session when it has one, with
// platform::socket_recv's results. A peer that closes without a close_notify
// counts as a plain close: the ordinary early-close rules then judge whether
// the range was complete.
long connection_recv(std::int32_t fd, void* data, std::size_t size);
// True when the session holds decrypted bytes that no socket probe shows.
bool tls_pending(std::int32_t fd);

// Frees the socket's session (if any), then closes it; fd becomes -1.
void close_connection(std::int32_t& fd);

}  // namespace torvane::engine
