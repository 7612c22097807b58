#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

bool run_at_normal_priority() {
  sched_param priority{};
  return ::pthread_setschedparam(::pthread_self(), SCHED_OTHER, &priority) == 0;
}

bool run_in_background() {
  // On Linux both the nice value and the I/O class belong to the thread, not the process.
  const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
  const bool niced = ::setpriority(PRIO_PROCESS, thread, 19) == 0;
  // The idle I/O class: the disk only when nobody else wants it (ioprio_set has no libc wrapper).
  constexpr int IOPRIO_CLASS_IDLE = 3, IOPRIO_CLASS_SHIFT = 13, IOPRIO_WHO_PROCESS = 1;
  const bool idle_io = ::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, static_cast<int>(thread),
                                 IOPRIO_CLASS_IDLE << IOPRIO_CLASS_SHIFT) == 0;
  return niced && idle_io;
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
