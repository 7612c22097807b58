#pragma once
// The end of a connection after its reply: the sending side is shut down at
// once, so the client sees the reply end; what the client still sends is then
// read and discarded on a thread of its own, for at most LINGER_MILLISECONDS
// and LINGER_BYTES per connection, before the socket is closed. Closing with
// unread bytes waiting would reset the connection and cut short the reply the
// client has not read yet; discarding here keeps that wait off the lock.

#include "platform/socket.h"

namespace zv {

// Takes the socket over: shuts down its sending side and closes it once the
// client has closed, sent too much or taken too long.
void close_lingering(SocketHandle s);

}  // namespace zv
