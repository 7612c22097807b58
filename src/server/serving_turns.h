#pragma once
// The server's two long-lived threads take turns at two roles: watching
// (accepting, and waiting for each connection's first bytes) and serving (one
// connection at a time, under the connection lock). The watcher that finds a
// connection ready while nobody serves serves it itself and keeps the watch
// meanwhile: a quick reply wakes no other thread. Only when the serving turns
// out to take long (a script, a request in pieces) does it let the watch go
// to the other thread. Connections found while one is being served wait their
// turn, in the order their first bytes arrived.

#include "platform/socket.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace zv {

struct ReadyConnection {
  SocketHandle socket = 0;
  std::chrono::steady_clock::time_point arrived;  // when its first bytes were seen
};

class ServingTurns {
 public:
  enum class Turn { watch, serve };
  // Waits for this thread's turn: serving the oldest ready connection (set
  // in `connection`) when nobody serves, else watching when nobody does.
  Turn next(ReadyConnection& connection);
  // The watcher found `found` ready (and it is emptied). True when nobody
  // serves: the watcher then serves `connection`, keeping the watch.
  bool found(std::vector<ReadyConnection>& found, ReadyConnection& connection);
  // The serving thread will be a while: the other thread takes the watch.
  void let_watch_go();
  // The serving thread's next turn: the next ready connection, or the watch
  // it kept, or whatever `next` gives.
  Turn served(ReadyConnection& connection);

 private:
  Turn wait_for_turn(std::unique_lock<std::mutex>& guard, ReadyConnection& connection);
  void serve_oldest(ReadyConnection& connection);

  std::mutex lock_;
  std::condition_variable watch_left_;
  std::deque<ReadyConnection> ready_;
  bool watching_ = false;
  bool serving_ = false;
  bool watch_kept_ = false;  // by the serving thread
};

}  // namespace zv
