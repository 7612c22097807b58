#pragma once
// The end of a connection after its reply: the sending side is shut down at
// once, so the client sees the reply end; what the client still sends is then
// read and discarded, for at most LINGER_MILLISECONDS and LINGER_BYTES per
// connection, before the socket is closed. Closing with unread bytes waiting
// would reset the connection and cut short the reply the client has not read
// yet; discarding happens off the connection lock.

#include "platform/socket.h"

#include <chrono>
#include <vector>

namespace zv {

// Connections whose reply has ended, each kept until its client closes, has
// sent too much or has taken too long. Whoever holds the set watches its
// sockets among its own.
class LingeringSockets {
 public:
  using Clock = std::chrono::steady_clock;
  // Shuts the sending side down and keeps the socket.
  void add(SocketHandle s);
  // Keeps a socket whose sending side is shut down already.
  void keep(SocketHandle s);
  bool empty() const { return lingering_.empty(); }
  // Appends the sockets to watch to `watched`; returns the milliseconds until
  // the first of them is due to be closed anyway (-1: none is kept).
  long watch(std::vector<SocketHandle>& watched, Clock::time_point now) const;
  // What the watch saw: `readable` holds a flag for each socket, in the order
  // watch() gave them. Reads what came and closes those that are done.
  void look(const unsigned char* readable, Clock::time_point now);

 private:
  struct Lingering {
    SocketHandle socket;
    Clock::time_point deadline;
    int discarded = 0;
  };
  std::vector<Lingering> lingering_;
};

// Takes the socket over: shuts down its sending side and hands it to a thread
// of its own, which closes it once the client has closed, sent too much or
// taken too long.
void close_lingering(SocketHandle s);

}  // namespace zv
