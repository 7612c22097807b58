#include "background_worker.h"

namespace zv::player {

BackgroundWorker::~BackgroundWorker() {
  {
    std::lock_guard hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWorker::start(Work work) {
  work_ = std::move(work);
  thread_ = std::thread([this] { run(); });
}

void BackgroundWorker::wake() {
  {
    std::lock_guard hold(lock_);
    woken_ = true;
  }
  wake_.notify_all();
}

void BackgroundWorker::run() {
  std::unique_lock hold(lock_);
  while (!stopping_) {
    woken_ = false;
    const Clock::time_point due = work_(hold);
    const auto called = [this] { return woken_ || stopping_; };
    if (due == Clock::time_point::max()) {
      wake_.wait(hold, called);
    } else {
      wake_.wait_until(hold, due, called);
    }
  }
}

}  // namespace zv::player
