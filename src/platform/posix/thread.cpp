#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <system_error>
#include <thread>

namespace zv {

bool begin_thread(ThreadRoutine routine, void* argument) {
  // std::thread reports a failed start by throwing; the seam reports it by value.
  try {
    std::thread(routine, argument).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

bool run_in_real_time() {
  // The lowest round-robin priorities: above every ordinary process, below
  // the system's own real-time work.
  sched_param priority{};
  priority.sched_priority = sched_get_priority_min(SCHED_RR) + 4;
  return ::pthread_setschedparam(::pthread_self(), SCHED_RR, &priority) == 0;
}

void use_precise_timers() { ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); }

bool run_thread_and_wait(ThreadRoutine routine, void* argument) {
  try {
    std::thread(routine, argument).join();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

}  // namespace zv
