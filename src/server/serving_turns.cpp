#include "server/serving_turns.h"

namespace zv {

void ServingTurns::serve_oldest(ReadyConnection& connection) {
  connection = ready_.front();
  ready_.pop_front();
  serving_ = true;
}

ServingTurns::Turn ServingTurns::wait_for_turn(std::unique_lock<std::mutex>& guard, ReadyConnection& connection) {
  for (;;) {
    if (!serving_ && !ready_.empty()) {
      serve_oldest(connection);
      return Turn::serve;
    }
    if (!watching_) {
      watching_ = true;
      return Turn::watch;
    }
    watch_left_.wait(guard);
  }
}

ServingTurns::Turn ServingTurns::next(ReadyConnection& connection) {
  std::unique_lock guard(lock_);
  return wait_for_turn(guard, connection);
}

bool ServingTurns::found(std::vector<ReadyConnection>& found, ReadyConnection& connection) {
  std::lock_guard guard(lock_);
  ready_.insert(ready_.end(), found.begin(), found.end());
  found.clear();
  if (serving_) return false;  // the one serving takes them in turn
  serve_oldest(connection);
  watch_kept_ = true;
  return true;
}

void ServingTurns::let_watch_go() {
  {
    std::lock_guard guard(lock_);
    if (!watch_kept_) return;
    watch_kept_ = false;
    watching_ = false;
  }
  watch_left_.notify_one();
}

ServingTurns::Turn ServingTurns::served(ReadyConnection& connection) {
  std::unique_lock guard(lock_);
  serving_ = false;
  if (watch_kept_) {
    // Nobody else watched, so nothing else can have been found meanwhile.
    if (!ready_.empty()) {
      serve_oldest(connection);
      return Turn::serve;
    }
    watch_kept_ = false;
    return Turn::watch;
  }
  return wait_for_turn(guard, connection);
}

}  // namespace zv
