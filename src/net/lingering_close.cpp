#include "net/lingering_close.h"

#include "net/tcp_socket.h"
#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

// How often the discarding thread looks for newly handed-over sockets while
// it waits on others.
constexpr long POLL_SLICE_MILLISECONDS = 20;

struct Lingering {
  SocketHandle socket;
  Clock::time_point deadline;
  int discarded = 0;
};

// Shared with the discarding thread, which runs until the process ends: never
// destroyed, as destroying a condition variable that thread still waits on
// would hold up the process's exit.
struct Handover {
  std::mutex lock;
  std::condition_variable handed_over;
  std::vector<Lingering> arrivals;
  bool started = false;
};
Handover& handover = *new Handover;

// A client that has closed its side leaves nothing to shut down.
void finish(const Lingering& l, bool client_closed) {
  if (!client_closed) socket_shutdown_both(l.socket);
  socket_close(l.socket);
}

void discard_mt(void*) {
  std::vector<Lingering> lingering;
  std::vector<SocketHandle> sockets;
  std::vector<unsigned char> ready;
  char discarded[16384];
  for (;;) {
    {
      std::unique_lock guard(handover.lock);
      if (lingering.empty()) handover.handed_over.wait(guard, [] { return !handover.arrivals.empty(); });
      lingering.insert(lingering.end(), handover.arrivals.begin(), handover.arrivals.end());
      handover.arrivals.clear();
    }
    sockets.clear();
    for (const Lingering& l : lingering) sockets.push_back(l.socket);
    ready.assign(sockets.size(), 0);
    socket_poll_readable(sockets.data(), static_cast<int>(sockets.size()), POLL_SLICE_MILLISECONDS, ready.data());
    const auto now = Clock::now();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < lingering.size(); ++i) {
      Lingering& l = lingering[i];
      bool done = now >= l.deadline;
      bool client_closed = false;
      if (!done && ready[i]) {
        const int received = socket_recv(l.socket, discarded, static_cast<int>(sizeof discarded));
        client_closed = received <= 0;  // or the connection is gone
        done = client_closed || (l.discarded += received) >= LINGER_BYTES;
      }
      if (done)
        finish(l, client_closed);
      else
        lingering[kept++] = l;
    }
    lingering.resize(kept);
  }
}

}  // namespace

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
    handover.arrivals.push_back({s, Clock::now() + std::chrono::milliseconds(LINGER_MILLISECONDS)});
  }
  // Woken outside the lock, the discarding thread does not block on it at once.
  handover.handed_over.notify_one();
}

}  // namespace zv
