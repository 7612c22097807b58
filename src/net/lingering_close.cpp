#include "net/lingering_close.h"

#include "net/tcp_socket.h"
#include "platform/thread.h"
#include "platform/time_limits.h"

#include <condition_variable>
#include <mutex>

namespace zv {
namespace {

// How often the discarding thread looks for newly handed-over sockets while
// it waits on others.
constexpr long POLL_SLICE_MILLISECONDS = 20;

// Shared with the discarding thread, which runs until the process ends: never
// destroyed, as destroying a condition variable that thread still waits on
// would hold up the process's exit.
struct Handover {
  std::mutex lock;
  std::condition_variable handed_over;
  std::vector<SocketHandle> arrivals;
  bool started = false;
};
Handover& handover = *new Handover;

void discard_mt(void*) {
  LingeringSockets lingering;
  std::vector<SocketHandle> sockets;
  std::vector<unsigned char> readable;
  for (;;) {
    {
      std::unique_lock guard(handover.lock);
      if (lingering.empty()) handover.handed_over.wait(guard, [] { return !handover.arrivals.empty(); });
      for (SocketHandle s : handover.arrivals) lingering.keep(s);
      handover.arrivals.clear();
    }
    sockets.clear();
    const long due = lingering.watch(sockets, LingeringSockets::Clock::now());
    readable.assign(sockets.size(), 0);
    socket_poll_readable(sockets.data(), static_cast<int>(sockets.size()),
                         due < 0 || due > POLL_SLICE_MILLISECONDS ? POLL_SLICE_MILLISECONDS : due, readable.data());
    lingering.look(readable.data(), LingeringSockets::Clock::now());
  }
}

}  // namespace

void LingeringSockets::add(SocketHandle s) {
  if (socket_shutdown_send(s) != 0) {
    socket_close(s);
    return;
  }
  keep(s);
}

void LingeringSockets::keep(SocketHandle s) {
  lingering_.push_back({s, Clock::now() + std::chrono::milliseconds(LINGER_MILLISECONDS)});
}

long LingeringSockets::watch(std::vector<SocketHandle>& watched, Clock::time_point now) const {
  long due = -1;
  for (const Lingering& l : lingering_) {
    watched.push_back(l.socket);
    const long left = milliseconds_until(l.deadline, now);
    if (due < 0 || left < due) due = left;
  }
  return due;
}

void LingeringSockets::look(const unsigned char* readable, Clock::time_point now) {
  char discarded[16384];
  std::size_t kept = 0;
  for (std::size_t i = 0; i < lingering_.size(); ++i) {
    Lingering& l = lingering_[i];
    bool done = now >= l.deadline;
    bool client_closed = false;
    if (!done && readable[i]) {
      const int received = socket_recv(l.socket, discarded, static_cast<int>(sizeof discarded));
      client_closed = received <= 0;  // or the connection is gone
      done = client_closed || (l.discarded += received) >= LINGER_BYTES;
    }
    if (!done) {
      lingering_[kept++] = l;
      continue;
    }
    // A client that has closed its side leaves nothing to shut down.
    if (!client_closed) socket_shutdown_both(l.socket);
    socket_close(l.socket);
  }
  lingering_.resize(kept);
}

void close_lingering(SocketHandle s) {
  if (s == 0) return;
  if (socket_shutdown_send(s) != 0) {
    socket_close(s);
    return;
  }
  {
    std::lock_guard guard(handover.lock);
    if (!handover.started) {
      handover.started = begin_thread(discard_mt, nullptr);
      if (!handover.started) {  // nobody to discard for it: close as the client is told the reply ended
        socket_close(s);
        return;
      }
    }
    handover.arrivals.push_back(s);
  }
  // Woken outside the lock, the discarding thread does not block on it at once.
  handover.handed_over.notify_one();
}

}  // namespace zv
