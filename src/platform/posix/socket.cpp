#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace zv {
namespace {

thread_local int last_error = 0;

// errno in the Winsock numbering, so that the error texts read the same on
// every platform.
int winsock_code(int error) {
  switch (error) {
    case EINTR: return 10004;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: case EBADF: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return error;
  }
}

int fail() {
  last_error = winsock_code(errno);
  return SOCKET_FAILURE;
}

int fd(SocketHandle s) { return static_cast<int>(s); }

// Waking from a sleep comes some 20 us late on a virtual machine, which
// would stretch the 50 us quiet period to 70. A wait shorter than a
// millisecond therefore sleeps all but its last 30 us and looks at the
// socket without sleeping for those.
constexpr auto LOOK_WITHOUT_SLEEPING = std::chrono::microseconds(30);
constexpr auto SHORT_WAIT = std::chrono::milliseconds(1);

int poll_for(pollfd& entry, std::chrono::nanoseconds wait) {
  const timespec timeout{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
  const int result = ::ppoll(&entry, 1, &timeout, nullptr);
  if (result < 0) return fail();
  if (entry.revents & POLLNVAL) {
    last_error = WSA_NOT_SOCKET;
    return SOCKET_FAILURE;
  }
  return result;
}

int wait_ready(SocketHandle s, long seconds, long microseconds, bool for_write) {
  using Clock = std::chrono::steady_clock;
  pollfd entry{fd(s), static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
  const std::chrono::nanoseconds wait = std::chrono::seconds(seconds) + std::chrono::microseconds(microseconds);
  if (wait >= SHORT_WAIT) return poll_for(entry, wait);
  const auto deadline = Clock::now() + wait;
  int result = poll_for(entry, std::max(wait - LOOK_WITHOUT_SLEEPING, std::chrono::nanoseconds(0)));
  while (result == 0 && Clock::now() < deadline) result = poll_for(entry, std::chrono::nanoseconds(0));
  return result;
}

}  // namespace

int socket_startup() { return 0; }

SocketHandle socket_create() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (s < 0) {
    fail();
    return INVALID_SOCKET_HANDLE;
  }
  return static_cast<SocketHandle>(s);
}

std::uint32_t socket_inet_addr(const char* dotted) { return ::inet_addr(dotted); }

std::uint16_t socket_port_network(std::uint16_t port) { return htons(port); }

int socket_bind(SocketHandle s, std::uint32_t address, std::uint16_t port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = port;
  where.sin_addr.s_addr = address;
  // Windows lets a restarted server bind while connections of the last run
  // linger in TIME_WAIT; a second listener is refused on both platforms.
  const int reuse = 1;
  ::setsockopt(fd(s), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  if (::bind(fd(s), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) return fail();
  return 0;
}

int socket_listen(SocketHandle s, int backlog) {
  if (s == 0) {  // no socket: what Winsock says for a handle that is none
    last_error = WSA_NOT_SOCKET;
    return SOCKET_FAILURE;
  }
  return ::listen(fd(s), backlog) == 0 ? 0 : fail();
}

SocketHandle socket_accept(SocketHandle s) {
  const int accepted = ::accept4(fd(s), nullptr, nullptr, SOCK_CLOEXEC);
  if (accepted < 0) {
    fail();
    return INVALID_SOCKET_HANDLE;
  }
  return static_cast<SocketHandle>(accepted);
}

int socket_send(SocketHandle s, const char* data, int length) {
  const ssize_t sent = ::send(fd(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
  return sent < 0 ? fail() : static_cast<int>(sent);
}

int socket_recv(SocketHandle s, char* buffer, int size) {
  const ssize_t received = ::recv(fd(s), buffer, static_cast<size_t>(size), 0);
  return received < 0 ? fail() : static_cast<int>(received);
}

int socket_shutdown_both(SocketHandle s) { return ::shutdown(fd(s), SHUT_RDWR) == 0 ? 0 : fail(); }

int socket_shutdown_send(SocketHandle s) { return ::shutdown(fd(s), SHUT_WR) == 0 ? 0 : fail(); }

int socket_close(SocketHandle s) { return ::close(fd(s)) == 0 ? 0 : fail(); }

int socket_wait_readable(SocketHandle s, long seconds, long microseconds) {
  return wait_ready(s, seconds, microseconds, false);
}

int socket_wait_writable(SocketHandle s, long seconds, long microseconds) {
  return wait_ready(s, seconds, microseconds, true);
}

int socket_poll_readable(const SocketHandle* sockets, int count, long milliseconds, unsigned char* ready) {
  std::vector<pollfd> entries(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) entries[i] = pollfd{fd(sockets[i]), POLLIN, 0};
  int result = 0;
  do {
    result = ::poll(entries.data(), entries.size(), static_cast<int>(milliseconds));
  } while (result < 0 && errno == EINTR);
  if (result < 0) return fail();
  for (int i = 0; i < count; ++i) ready[i] = entries[i].revents != 0;
  return result;
}

int socket_set_nonblocking(SocketHandle s) {
  const int flags = ::fcntl(fd(s), F_GETFL);
  return flags >= 0 && ::fcntl(fd(s), F_SETFL, flags | O_NONBLOCK) == 0 ? 0 : fail();
}

int socket_last_error() { return last_error; }

void socket_set_last_error(int code) { last_error = code; }

}  // namespace zv
