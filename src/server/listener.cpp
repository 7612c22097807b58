#include "net/tcp_socket.h"
#include "platform/thread.h"
#include "server/connection_handler.h"

#include <atomic>
#include <cstdio>

namespace zv {
namespace {

std::atomic<bool> failed{false};

// The socket goes to its thread by value, inside the pointer-sized argument.
void* socket_argument(SocketHandle s) { return reinterpret_cast<void*>(s); }

}  // namespace

bool listener_failed() { return failed; }

void socket_listen_mt(void*) {
  TcpSocket listener;
  if (listener.bind(nullptr, LISTEN_PORT) != 0) {
    std::printf("%s\n", TcpSocket::error_text());
    failed = true;
    return;
  }
  if (listener.listen(1) != 0) {
    std::printf("%s\n", TcpSocket::error_text());
    failed = true;
    return;
  }
  for (;;) {
    SocketHandle accepted = 0;
    listener.accept(accepted);
    std::printf("\n---> New socket: %d\n", static_cast<int>(accepted));
    if (!begin_thread(socket_accept_mt, socket_argument(accepted))) {
      TcpSocket unserved(accepted);  // nobody else will close it
    }
  }
}

}  // namespace zv
