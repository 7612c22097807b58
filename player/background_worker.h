#pragma once
// A thread of the player's own for slow work (the library, measuring songs),
// so that playback and the window never wait for it. Its owner shares state
// with the work under the worker's lock and wakes it when there is more.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zv::player {

class BackgroundWorker {
 public:
  using Clock = std::chrono::steady_clock;
  // Runs on the worker's thread with `hold` locked (it may unlock it while
  // busy) and says when it is due again if nobody wakes it meanwhile:
  // Clock::time_point::max() for not until woken.
  using Work = std::function<Clock::time_point(std::unique_lock<std::mutex>& hold)>;

  BackgroundWorker() = default;
  // Finishes the work at hand and ends the thread.
  ~BackgroundWorker();
  BackgroundWorker(const BackgroundWorker&) = delete;
  BackgroundWorker& operator=(const BackgroundWorker&) = delete;

  // Starts the thread; called once the owner's state is made.
  void start(Work work);
  std::mutex& lock() { return lock_; }
  // Has the work run again soon; a wake while it runs is not lost.
  void wake();
  // Whether the owner is ending; read under the lock.
  bool stopping() const { return stopping_; }

 private:
  void run();

  std::mutex lock_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool stopping_ = false;
  Work work_;
  std::thread thread_;
};

}  // namespace zv::player
