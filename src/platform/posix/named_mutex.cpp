#include "platform/named_mutex.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// A named mutex is a process-wide timed mutex looked up by name. Ownership
// follows the thread: a thread that acquires it keeps it until it ends, when
// a thread_local holder unlocks it for the next waiter.
//
// The lock is an owned flag under a plain mutex and a condition variable, not
// a std::timed_mutex: that one's timed wait (pthread_mutex_clocklock) is
// invisible to ThreadSanitizer, which then reports the lock's users as races.

namespace zv {
namespace {

class TimedLock {
 public:
  bool try_lock_for(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_);
    if (!freed_.wait_for(lock, timeout, [this] { return !owned_; })) return false;
    owned_ = true;
    return true;
  }
  void unlock() {
    {
      std::lock_guard lock(state_);
      owned_ = false;
    }
    freed_.notify_one();
  }

 private:
  std::mutex state_;
  std::condition_variable freed_;
  bool owned_ = false;
};

struct NamedMutex {
  TimedLock mutex;
};

std::mutex registry_lock;
std::map<std::u16string, std::unique_ptr<NamedMutex>>& registry() {
  static auto* names = new std::map<std::u16string, std::unique_ptr<NamedMutex>>;  // lives as long as the process
  return *names;
}

struct HeldUntilThreadEnds {
  TimedLock* held = nullptr;
  ~HeldUntilThreadEnds() {
    if (held) held->unlock();
  }
};
thread_local HeldUntilThreadEnds held_by_this_thread;

}  // namespace

MutexHandle create_named_mutex(const char16_t* name) {
  if (!name) return 0;
  std::lock_guard guard(registry_lock);
  auto& entry = registry()[name];
  if (!entry) entry = std::make_unique<NamedMutex>();
  return reinterpret_cast<MutexHandle>(entry.get());
}

MutexWait wait_for_mutex(MutexHandle handle, std::uint32_t milliseconds) {
  auto* named = reinterpret_cast<NamedMutex*>(handle);
  if (!named) return MutexWait::failed;
  if (held_by_this_thread.held == &named->mutex) return MutexWait::signalled;  // already ours
  if (held_by_this_thread.held) return MutexWait::failed;  // a thread holds one lock at most
  if (!named->mutex.try_lock_for(std::chrono::milliseconds(milliseconds))) return MutexWait::timed_out;
  held_by_this_thread.held = &named->mutex;
  return MutexWait::signalled;
}

void release_mutex(MutexHandle handle) {
  auto* named = reinterpret_cast<NamedMutex*>(handle);
  if (!named || held_by_this_thread.held != &named->mutex) return;  // not ours to give up
  held_by_this_thread.held = nullptr;
  named->mutex.unlock();
}

void close_mutex(MutexHandle) {}  // the named object lives as long as the process

}  // namespace zv
