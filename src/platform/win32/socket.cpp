#include "platform/socket.h"

#include <winsock2.h>
#include <windows.h>

#include <vector>

namespace zv {
namespace {
// Winsock keeps its last error in the thread's last-error slot, which any
// later call (printing included) may overwrite; the failed call's number is
// kept here, so that it can still be read after the failure has been narrated.
thread_local int last_error = 0;

SOCKET native(SocketHandle s) { return static_cast<SOCKET>(s); }

// Keeps the thread's Winsock error when `result` is the call's failure value.
template <typename Result>
Result kept(Result result, Result failure) {
  if (result == failure) last_error = WSAGetLastError();
  return result;
}

int wait_for(SocketHandle s, bool for_reading, long seconds, long microseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(native(s), &set);
  timeval timeout{seconds, microseconds};
  // The first argument is ignored by Winsock.
  return kept(select(0, for_reading ? &set : nullptr, for_reading ? nullptr : &set, nullptr, &timeout), SOCKET_ERROR);
}
}  // namespace

int socket_startup() {
  WSADATA data{};
  return WSAStartup(0x0101, &data);
}

SocketHandle socket_create() {
  // No flags: the socket must be inheritable and not overlapped, so that a
  // CGI child can write to it as its standard output.
  SOCKET s = kept(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0), INVALID_SOCKET);
  return s == INVALID_SOCKET ? INVALID_SOCKET_HANDLE : static_cast<SocketHandle>(s);
}

std::uint32_t socket_inet_addr(const char* dotted) { return inet_addr(dotted); }

std::uint16_t socket_port_network(std::uint16_t port) { return htons(port); }

int socket_bind(SocketHandle s, std::uint32_t address, std::uint16_t port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = port;
  local.sin_addr.s_addr = address;
  return kept(bind(native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local), SOCKET_ERROR) == 0
             ? 0
             : SOCKET_FAILURE;
}

int socket_listen(SocketHandle s, int backlog) {
  return kept(listen(native(s), backlog), SOCKET_ERROR) == 0 ? 0 : SOCKET_FAILURE;
}

SocketHandle socket_accept(SocketHandle s) {
  SOCKET accepted = kept(accept(native(s), nullptr, nullptr), INVALID_SOCKET);
  if (accepted == INVALID_SOCKET) return INVALID_SOCKET_HANDLE;
  // An accepted socket inherits the listener's non-blocking mode; the
  // connection and the CGI child writing to it expect a blocking one.
  u_long blocking = 0;
  ioctlsocket(accepted, FIONBIO, &blocking);
  return static_cast<SocketHandle>(accepted);
}

int socket_send(SocketHandle s, const char* data, int length) {
  return kept(send(native(s), data, length, 0), SOCKET_ERROR);
}

int socket_recv(SocketHandle s, char* buffer, int size) { return kept(recv(native(s), buffer, size, 0), SOCKET_ERROR); }

int socket_shutdown_both(SocketHandle s) { return kept(shutdown(native(s), SD_BOTH), SOCKET_ERROR); }

int socket_shutdown_send(SocketHandle s) { return kept(shutdown(native(s), SD_SEND), SOCKET_ERROR); }

int socket_close(SocketHandle s) { return kept(closesocket(native(s)), SOCKET_ERROR); }

int socket_wait_readable(SocketHandle s, long seconds, long microseconds) {
  return wait_for(s, true, seconds, microseconds);
}

int socket_wait_writable(SocketHandle s, long seconds, long microseconds) {
  return wait_for(s, false, seconds, microseconds);
}

int socket_poll_readable(const SocketHandle* sockets, int count, long milliseconds, unsigned char* ready) {
  std::vector<WSAPOLLFD> entries(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) entries[i] = WSAPOLLFD{native(sockets[i]), POLLRDNORM, 0};
  const int result = kept(WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), static_cast<INT>(milliseconds)), SOCKET_ERROR);
  if (result == SOCKET_ERROR) return SOCKET_FAILURE;
  for (int i = 0; i < count; ++i) ready[i] = entries[i].revents != 0;
  return result;
}

int socket_set_nonblocking(SocketHandle s) {
  u_long nonblocking = 1;
  return kept(ioctlsocket(native(s), FIONBIO, &nonblocking), SOCKET_ERROR) == 0 ? 0 : SOCKET_FAILURE;
}

int socket_last_error() { return last_error; }

void socket_set_last_error(int code) {
  last_error = code;
  WSASetLastError(code);
}

}  // namespace zv
