#include "net/tcp_socket.h"
#include "platform/console.h"

#include <cstdio>
#include <cstring>

namespace zv {
namespace {

// Set once the first start-up succeeded; the listener's socket does that
// before any connection thread exists.
int winsock_started = 0;

constexpr const char* DEFAULT_ADDRESS = "127.0.0.1";

}  // namespace

TcpSocket::TcpSocket(SocketHandle existing) { create(existing); }

TcpSocket::~TcpSocket() {
  if (handle_ != 0) {
    socket_shutdown_both(handle_);
    socket_close(handle_);
  }
}

int TcpSocket::startup() {
  if (winsock_started) return 0;
  const int code = socket_startup();
  if (code == 0) winsock_started = 1;
  return code;
}

void TcpSocket::create(SocketHandle existing) {
  if (startup() != 0) return;
  if (existing != 0) {
    handle_ = existing;
    return;
  }
  const SocketHandle created = socket_create();
  handle_ = created == INVALID_SOCKET_HANDLE ? 0 : created;
}

int TcpSocket::bind(const char* address, std::uint16_t port) {
  if (handle_ == 0) return 0;
  const std::uint32_t where = socket_inet_addr(address ? address : DEFAULT_ADDRESS);
  const int result = socket_bind(handle_, where, socket_port_network(port));
  if (result == 0) return 0;
  if (result == SOCKET_FAILURE) return socket_last_error();
  return WSA_CONNECTION_ABORTED;
}

int TcpSocket::listen(int backlog) {
  if (socket_listen(handle_, backlog) == SOCKET_FAILURE) {
    narrate("Error listening on socket.\n");
    return socket_last_error();
  }
  narrate("Listening on socket...\n");
  return 0;
}

int TcpSocket::send(const char* data, int length) {
  if (handle_ == 0 || !data) return 0;
  if (length <= 0) length = static_cast<int>(std::strlen(data));
  if (length == 0) return 0;
  return socket_send(handle_, data, length);
}

int TcpSocket::receive(char* buffer, int size) {
  if (handle_ == 0 || !buffer || size == 0) return 0;
  return socket_recv(handle_, buffer, size);
}

bool TcpSocket::accept_waiting(SocketHandle& accepted) {
  accepted = socket_accept(handle_);
  if (accepted == INVALID_SOCKET_HANDLE) return false;
  narrate("Client connected.\n");
  return true;
}

SocketHandle TcpSocket::release() {
  const SocketHandle s = handle_;
  handle_ = 0;
  return s;
}

const char* TcpSocket::error_text() { return socket_error_text(socket_last_error()); }

}  // namespace zv
