#include "net/tcp_socket.h"
#include "platform/console.h"
#include "platform/thread.h"
#include "platform/time_limits.h"
#include "server/connection_handler.h"
#include "server/connection_queue.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

// One thread accepts connections and watches each until its first bytes
// arrive; only then does it hand the connection to the worker, which serves
// one connection at a time under the connection lock. A connection that
// stays silent (a browser's spare one) thus never holds the lock, and nothing
// is started per connection.

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds FIRST_WAIT{10};
// When descriptors run out, the waiting connection cannot be taken, and the
// listening socket stays readable: it is left alone this long each time.
constexpr std::chrono::milliseconds ACCEPT_BACK_OFF{100};

std::atomic<bool> failed{false};

struct Silent {
  SocketHandle socket;
  Clock::time_point deadline;
};

void serve_mt(void* queue) {
  auto& ready = *static_cast<ConnectionQueue*>(queue);
  for (;;) serve_connection(ready.pop());
}

void close_silent(SocketHandle s) {
  narrate("\n---> Connection %d sent nothing: closed without a reply\n", static_cast<int>(s));
  TcpSocket closed(s);
}

long milliseconds_until(Clock::time_point when, Clock::time_point now) {
  return when <= now ? 0 : static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count());
}

}  // namespace

bool listener_failed() { return failed; }

void socket_listen_mt(void*) {
  TcpSocket listener;
  if (listener.bind(nullptr, LISTEN_PORT) != 0) {
    narrate("%s\n", TcpSocket::error_text());
    failed = true;
    return;
  }
  if (listener.listen(1) != 0) {
    narrate("%s\n", TcpSocket::error_text());
    failed = true;
    return;
  }
  // A connection that went away between being seen and being accepted must
  // not leave the loop blocked in accept while others wait.
  socket_set_nonblocking(listener.handle());
  // Never destroyed: the worker waits on it until the process ends, and a
  // queue destroyed at exit under a waiting worker would hold the exit up.
  static ConnectionQueue& ready = *new ConnectionQueue;
  if (!begin_thread(serve_mt, &ready)) {  // nothing could ever be served
    failed = true;
    return;
  }

  const auto first_wait = time_limit(FIRST_WAIT);
  std::vector<Silent> silent;
  std::vector<SocketHandle> watched;
  std::vector<unsigned char> readable;
  Clock::time_point accept_again{};
  narrate("Waiting for client to connect...\n");
  for (;;) {
    auto now = Clock::now();
    const bool accepting = now >= accept_again;
    watched.clear();
    if (accepting) watched.push_back(listener.handle());
    for (const Silent& s : silent) watched.push_back(s.socket);
    long wait = -1;
    if (!accepting) wait = milliseconds_until(accept_again, now);
    for (const Silent& s : silent) {
      const long left = milliseconds_until(s.deadline, now);
      if (wait < 0 || left < wait) wait = left;
    }
    readable.assign(watched.size(), 0);
    if (socket_poll_readable(watched.data(), static_cast<int>(watched.size()), wait, readable.data()) == SOCKET_FAILURE) {
      std::this_thread::sleep_for(ACCEPT_BACK_OFF);  // not expected; never spin on it
      continue;
    }

    now = Clock::now();
    const std::size_t first_silent = accepting ? 1 : 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < silent.size(); ++i) {
      if (readable[first_silent + i]) {
        ready.push({silent[i].socket, now});
      } else if (now >= silent[i].deadline) {
        close_silent(silent[i].socket);
      } else {
        silent[kept++] = silent[i];
      }
    }
    silent.resize(kept);

    if (accepting && readable[0]) {
      SocketHandle accepted = 0;
      if (listener.accept_waiting(accepted)) {
        narrate("\n---> New socket: %d\n", static_cast<int>(accepted));
        silent.push_back({accepted, now + first_wait});
        narrate("Waiting for client to connect...\n");
      } else if (socket_last_error() != WSA_WOULD_BLOCK) {
        // Out of descriptors (or another lasting failure): the connection stays
        // queued, and trying again at once would only spin.
        accept_again = now + ACCEPT_BACK_OFF;
      }
    }
  }
}

}  // namespace zv
