#include "platform/thread.h"

#include <process.h>
#include <windows.h>

#include <cstdint>

namespace zv {
namespace {
struct WaitedThread {
  ThreadRoutine routine;
  void* argument;
};

unsigned __stdcall run_waited(void* start) {
  auto* thread = static_cast<WaitedThread*>(start);
  thread->routine(thread->argument);
  return 0;
}
}  // namespace

bool begin_thread(ThreadRoutine routine, void* argument) {
  return _beginthread(routine, 0, argument) != static_cast<std::uintptr_t>(-1);
}

void use_precise_timers() {}

bool run_in_real_time() { return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0; }

bool run_at_normal_priority() { return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL) != 0; }

bool run_in_background() { return SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN) != 0; }

bool run_thread_and_wait(ThreadRoutine routine, void* argument) {
  // _beginthreadex rather than _beginthread: the handle of a thread started
  // with _beginthread is closed when the thread ends, so a thread that ends at
  // once (the listener that cannot bind) would leave a stale handle to wait on.
  WaitedThread start{routine, argument};
  auto handle = _beginthreadex(nullptr, 0, run_waited, &start, 0, nullptr);
  if (handle == 0) return false;
  WaitForSingleObject(reinterpret_cast<HANDLE>(handle), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

}  // namespace zv
