#pragma once
// Serving: the listener thread and one thread per accepted connection.

namespace zv {

inline constexpr const char16_t* CONNECTION_MUTEX_NAME = u"zv_mutex_php_server1";
inline constexpr unsigned short LISTEN_PORT = 8080;

inline constexpr const char* HEADER_200 =
    "HTTP/1.0 200 OK\nServer: ZentavioInternetTV\nCache-Control: no-cache\n";
inline constexpr const char* HEADER_404 = "HTTP/1.0 404 Not Found\nServer: ZentavioInternetTV\n\n";

// Thread routine: serves the accepted socket passed by value in `argument`.
void socket_accept_mt(void* argument);
// Thread routine: binds, listens and accepts; returns only when it cannot listen.
void socket_listen_mt(void* argument);
// True once the listener has given up (bind or listen failed).
bool listener_failed();

}  // namespace zv
