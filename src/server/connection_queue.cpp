#include "server/connection_queue.h"

namespace zv {

void ConnectionQueue::push(ReadyConnection connection) {
  {
    std::lock_guard guard(lock_);
    waiting_.push_back(connection);
  }
  pushed_.notify_one();
}

ReadyConnection ConnectionQueue::pop() {
  std::unique_lock guard(lock_);
  pushed_.wait(guard, [this] { return !waiting_.empty(); });
  const ReadyConnection next = waiting_.front();
  waiting_.pop_front();
  return next;
}

}  // namespace zv
