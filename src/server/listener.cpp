#include "net/lingering_close.h"
#include "net/tcp_socket.h"
#include "platform/connection_peer.h"
#include "platform/console.h"
#include "platform/thread.h"
#include "platform/time_limits.h"
#include "server/connection_handler.h"
#include "server/serving_turns.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// The listening socket is watched together with every accepted connection
// until its first bytes arrive; only then is the connection served, under the
// connection lock. A connection that stays silent (a browser's spare one)
// thus never holds the lock, and nothing is started per connection: two
// threads take turns at watching and serving (server/serving_turns.h).

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

// What the watch keeps between turns; only the thread whose turn it is to
// watch touches it.
struct Watch {
  explicit Watch(TcpSocket& listening) : listener(listening), first_wait(time_limit(FIRST_WAIT)) {}
  TcpSocket& listener;
  Clock::duration first_wait;
  std::vector<Silent> silent;
  // Connections whose quick reply has ended: the serving thread that kept
  // the watch leaves them here, with no other thread to wake.
  LingeringSockets lingering;
  Clock::time_point accept_again{};
  std::vector<SocketHandle> watched;  // scratch of each round, kept for its capacity
  std::vector<unsigned char> readable;
  std::vector<ReadyConnection> ready;
};

struct Serving {
  Watch watch;
  ServingTurns turns;
};

void close_silent(SocketHandle s) {
  narrate("\n---> Connection %d sent nothing: closed without a reply\n", static_cast<int>(s));
  TcpSocket closed(s);
}

// One round of the watch: waits until the listening socket or a silent
// connection stirs or a deadline passes, accepts, and moves the connections
// whose first bytes arrived to `w.ready`.
void watch_once(Watch& w) {
  auto now = Clock::now();
  const bool accepting = now >= w.accept_again;
  w.watched.clear();
  if (accepting) w.watched.push_back(w.listener.handle());
  for (const Silent& s : w.silent) w.watched.push_back(s.socket);
  long wait = -1;
  if (!accepting) wait = milliseconds_until(w.accept_again, now);
  for (const Silent& s : w.silent) {
    const long left = milliseconds_until(s.deadline, now);
    if (wait < 0 || left < wait) wait = left;
  }
  const std::size_t first_lingering = w.watched.size();
  const long lingering_due = w.lingering.watch(w.watched, now);
  if (lingering_due >= 0 && (wait < 0 || lingering_due < wait)) wait = lingering_due;
  w.readable.assign(w.watched.size(), 0);
  if (socket_poll_readable(w.watched.data(), static_cast<int>(w.watched.size()), wait, w.readable.data()) ==
      SOCKET_FAILURE) {
    std::this_thread::sleep_for(ACCEPT_BACK_OFF);  // not expected; never spin on it
    return;
  }

  now = Clock::now();
  w.lingering.look(w.readable.data() + first_lingering, now);
  const std::size_t first_silent = accepting ? 1 : 0;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < w.silent.size(); ++i) {
    if (w.readable[first_silent + i]) {
      w.ready.push_back({w.silent[i].socket, now});
    } else if (now >= w.silent[i].deadline) {
      close_silent(w.silent[i].socket);
    } else {
      w.silent[kept++] = w.silent[i];
    }
  }
  w.silent.resize(kept);

  if (accepting && w.readable[0]) {
    SocketHandle accepted = 0;
    if (w.listener.accept_waiting(accepted)) {
      narrate("\n---> New socket: %d\n", static_cast<int>(accepted));
      w.silent.push_back({accepted, now + w.first_wait});
      narrate("Waiting for client to connect...\n");
    } else if (socket_last_error() != WSA_WOULD_BLOCK) {
      // Out of descriptors (or another lasting failure): the connection stays
      // queued, and trying again at once would only spin.
      w.accept_again = now + ACCEPT_BACK_OFF;
    }
  }
}

void take_turns(Serving& s) {
  ReadyConnection connection;
  bool keeping_watch = false;
  const TakingLong taking_long = [&] {
    keeping_watch = false;
    s.turns.let_watch_go();
  };
  const Ending ending = [&](SocketHandle done) {
    if (keeping_watch)
      s.watch.lingering.add(done);
    else
      close_lingering(done);
  };
  auto turn = s.turns.next(connection);
  for (;;) {
    if (turn == ServingTurns::Turn::watch) {
      do watch_once(s.watch);
      while (s.watch.ready.empty() || !s.turns.found(s.watch.ready, connection));
      keeping_watch = true;
    }
    serve_connection(connection, taking_long, ending);
    turn = s.turns.served(connection);
  }
}

void take_turns_mt(void* serving) { take_turns(*static_cast<Serving*>(serving)); }

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
  // not leave the watch blocked in accept while others wait.
  socket_set_nonblocking(listener.handle());
  if (std::string why; !peer_check_available(listener.handle(), why)) {
    narrate(
        "The server cannot tell which user runs the program at the other end of a connection (%s): it "
        "serves every program of this machine\n",
        why.c_str());
  }
  // Never destroyed: the other thread takes turns until the process ends,
  // and destroying what it waits on at exit would hold the exit up.
  static Serving& serving = *new Serving{Watch(listener), {}};
  narrate("Waiting for client to connect...\n");
  // Should the second thread not start, this one alone still serves every
  // connection, only watching none while it does.
  begin_thread(take_turns_mt, &serving);
  take_turns(serving);
}

}  // namespace zv
