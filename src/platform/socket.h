#pragma once
// Stream sockets as the server uses them. Errors are reported in the Winsock
// numbering on every platform and kept per thread (socket_last_error).

#include <cstdint>

namespace zv {

using SocketHandle = std::uintptr_t;  // 0 means "no socket"
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = ~SocketHandle{0};
inline constexpr int SOCKET_FAILURE = -1;  // SOCKET_ERROR

// Winsock error numbers the server looks at by name.
inline constexpr int WSA_NOT_INITIALISED = 10093;
inline constexpr int WSA_ADDRESS_IN_USE = 10048;
inline constexpr int WSA_NOT_SOCKET = 10038;
inline constexpr int WSA_CONNECTION_ABORTED = 10053;
inline constexpr int WSA_WOULD_BLOCK = 10035;

int socket_startup();  // WSAStartup(1.1): 0 or an error code
SocketHandle socket_create();  // IPv4 TCP; INVALID_SOCKET_HANDLE on failure
std::uint32_t socket_inet_addr(const char* dotted);
std::uint16_t socket_port_network(std::uint16_t port);  // htons  // network order, INADDR_NONE when invalid
int socket_bind(SocketHandle s, std::uint32_t address, std::uint16_t port);  // network order; 0 or SOCKET_FAILURE
int socket_listen(SocketHandle s, int backlog);  // 0 or SOCKET_FAILURE
SocketHandle socket_accept(SocketHandle s);  // INVALID_SOCKET_HANDLE on failure
int socket_send(SocketHandle s, const char* data, int length);  // bytes or SOCKET_FAILURE
int socket_recv(SocketHandle s, char* buffer, int size);  // bytes, 0 at peer close, or SOCKET_FAILURE
int socket_shutdown_both(SocketHandle s);
int socket_shutdown_send(SocketHandle s);  // shutdown(SD_SEND)
int socket_close(SocketHandle s);
// select() on one socket: > 0 when it is ready, 0 on timeout, SOCKET_FAILURE on error.
int socket_wait_readable(SocketHandle s, long seconds, long microseconds);
int socket_wait_writable(SocketHandle s, long seconds, long microseconds);
// Waits up to `milliseconds` (-1: without end) until one of `count` sockets
// is readable or closed; sets ready[i] for each such one. The count of
// ready sockets, 0 on timeout, SOCKET_FAILURE on error.
int socket_poll_readable(const SocketHandle* sockets, int count, long milliseconds, unsigned char* ready);
// A listening socket whose accept fails at once instead of waiting when the
// connection it was woken for has gone; what it accepts still blocks.
int socket_set_nonblocking(SocketHandle s);
int socket_last_error();  // WSAGetLastError
void socket_set_last_error(int code);  // WSASetLastError

}  // namespace zv
