#pragma once
// How the engine's thread sleeps: until an output needs program, a source
// has sound it lacked, a caller changed something, or a deadline. Shared with
// GStreamer's threads, which may call wake() after the engine has gone.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zv::player {

class EngineWake {
 public:
  void wake() {
    {
      std::lock_guard hold(lock_);
      woken_ = true;
    }
    signal_.notify_one();
  }
  // Sleeps until woken or `until`; a wake that came before the call counts.
  void sleep_until(std::chrono::steady_clock::time_point until) {
    std::unique_lock hold(lock_);
    signal_.wait_until(hold, until, [this] { return woken_; });
    woken_ = false;
  }

 private:
  std::mutex lock_;
  std::condition_variable signal_;
  bool woken_ = false;
};

}  // namespace zv::player
