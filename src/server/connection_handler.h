#pragma once
// Serving: the listener, which watches connections until they speak, and
// the serving of one connection at a time, by two threads that take turns.

#include "net/lingering_close.h"
#include "server/serving_turns.h"

#include <functional>

namespace zv {

inline constexpr const char16_t* CONNECTION_MUTEX_NAME = u"zv_mutex_php_server1";
inline constexpr unsigned short LISTEN_PORT = 8080;

inline constexpr const char* HEADER_200 = "HTTP/1.0 200 OK\nServer: ZentavioInternetTV\nCache-Control: no-cache\n";
inline constexpr const char* HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";

// Called once serving a connection is known to take longer than a quick
// reply: it runs a script, or its request comes in pieces.
using TakingLong = std::function<void()>;

// Takes a connection over once its reply has ended, to close it when the
// client is done (net/lingering_close.h).
using Ending = std::function<void(SocketHandle)>;

// Serves one connection whose first bytes have arrived, under the connection
// lock, and takes the socket over; gives it up without a word once it has
// waited 30 s for the lock.
void serve_connection(ReadyConnection connection, const TakingLong& taking_long = {},
                      const Ending& ending = close_lingering);
// Thread routine: binds, listens and accepts; returns only when it cannot listen.
void socket_listen_mt(void* argument);
// True once the listener has given up (bind or listen failed).
bool listener_failed();

}  // namespace zv
