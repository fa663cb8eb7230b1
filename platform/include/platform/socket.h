// IPv4 TCP stand-ins for the non-blocking socket interface the engine was
// designed around: sockets are non-blocking, every probe uses a zero time-out,
// sends never raise SIGPIPE, and only the host lookup may block.
//
// Sockets are plain descriptors in 32-bit variables; -1 means "no socket".
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane::platform {

// Creates a TCP/IPv4 socket and makes it non-blocking.
// 0 ok; 1 no socket (fd is -1); 2 it could not be made non-blocking (fd stays set).
int tcp_socket_open(std::int32_t& fd);

// Starts connecting to a 16-byte IPv4 socket address (family, port in network
// order, address). 0 when connected or under way (would-block counts as
// started), -1 when the connect failed at once.
int tcp_connect_start(std::int32_t fd, const std::uint8_t address[16]);

// Shuts the socket down both ways, closes it and sets fd to -1; nothing when -1.
void socket_close(std::int32_t& fd);

// Zero-time-out probes of one socket.
bool socket_writable(std::int32_t fd);
bool socket_readable(std::int32_t fd);
// A pending socket error (it is taken: the next probe sees it no more);
// `refused`, when given, says whether the peer refused the connection.
bool socket_error_condition(std::int32_t fd, bool* refused = nullptr);

// The most sockets of one item the download thread's probe watches.
constexpr int kMaxProbeSockets = 64;

// Sends in one call without SIGPIPE. Bytes sent, or -1.
long socket_send(std::int32_t fd, const void* data, std::size_t size);

// Receives at most `size` bytes. > 0 bytes, 0 the peer closed, or one of:
constexpr long kRecvWouldBlock = -1;
constexpr long kRecvInterrupted = -2;
constexpr long kRecvReset = -3;
constexpr long kRecvError = -4;
long socket_recv(std::int32_t fd, void* data, std::size_t size);
// The kRecv code of a failed receive's errno (for the other calls that receive).
long recv_error_code(int error);

// Blocking IPv4 lookup of a host name or dotted address. 0 with the 4-byte
// address in `out`, or -1 when there is no result.
int resolve_ipv4(const char* name, std::uint8_t out[4]);

// Fills a 16-byte IPv4 socket address: family 2, port in network order, address, zeros.
void fill_ipv4_address(std::uint8_t address[16], const std::uint8_t ip[4], std::uint16_t port);

}  // namespace torvane::platform
