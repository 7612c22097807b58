#pragma once
// One IPv4 stream socket, owned: shut down and closed by the destructor.

#include "platform/socket.h"

#include <cstdint>

namespace zv {

inline constexpr long LINGER_MILLISECONDS = 2000;
inline constexpr int LINGER_BYTES = 1 << 20;

class TcpSocket {
 public:
  explicit TcpSocket(SocketHandle existing = 0);
  virtual ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  int startup();
  void create(SocketHandle existing);
  int bind(const char* address, std::uint16_t port);  // null address: "127.0.0.1"
  int listen(int backlog);
  int send(const char* data, int length);
  int receive(char* buffer, int size);
  // Accepts one connection that is already waiting, without announcing the
  // wait (the listener has done so, and backs off when this fails for want of
  // descriptors); false when none could be taken.
  bool accept_waiting(SocketHandle& accepted);
  // Gives up ownership: the socket is no longer closed by this object.
  SocketHandle release();
  SocketHandle handle() const { return handle_; }

  // Text of the calling thread's last socket error.
  static const char* error_text();

 private:
  SocketHandle handle_ = 0;
};

// The fixed English text of a Winsock error number ("Unknown error." for others).
const char* socket_error_text(int code);

}  // namespace zv
