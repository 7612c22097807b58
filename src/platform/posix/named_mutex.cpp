#include "platform/named_mutex.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// A named mutex is a process-wide timed mutex looked up by name. Ownership
// follows the thread: a thread that acquires it keeps it until it ends, when
// a thread_local holder unlocks it for the next waiter.

namespace zv {
namespace {

struct NamedMutex {
  std::timed_mutex mutex;
};

std::mutex registry_lock;
std::map<std::u16string, std::unique_ptr<NamedMutex>>& registry() {
  static auto* names = new std::map<std::u16string, std::unique_ptr<NamedMutex>>;  // lives as long as the process
  return *names;
}

struct HeldUntilThreadEnds {
  std::timed_mutex* held = nullptr;
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
