#pragma once
// Connections whose first bytes have arrived, in the order they arrived,
// between the listener that watched for them and the worker that serves them.

#include "platform/socket.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace zv {

struct ReadyConnection {
  SocketHandle socket = 0;
  std::chrono::steady_clock::time_point arrived;  // when its first bytes were seen
};

class ConnectionQueue {
 public:
  void push(ReadyConnection connection);
  ReadyConnection pop();  // waits for one

 private:
  std::mutex lock_;
  std::condition_variable pushed_;
  std::deque<ReadyConnection> waiting_;
};

}  // namespace zv
