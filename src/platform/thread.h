#pragma once
// Threads as the server starts them: fire and forget, except the one the
// entry point waits for.

namespace zv {

using ThreadRoutine = void (*)(void*);

// _beginthread with stack size 0; false when the thread could not be started.
bool begin_thread(ThreadRoutine routine, void* argument);
// _beginthread, then WaitForSingleObject(INFINITE) on that thread; false
// when it could not be started.
bool run_thread_and_wait(ThreadRoutine routine, void* argument);
// Short waits of this thread and of the threads it starts from now on last
// what they ask for, not what the scheduler rounds them up to (Linux timer
// slack of 1 ns); nothing to do where the platform has no such slack.
void use_precise_timers();
// Runs the calling thread ahead of ordinary work (a low real-time priority
// on Linux, where the process's RLIMIT_RTPRIO allows it; time-critical on
// Windows), for a thread that feeds a sound card; false when refused.
bool run_in_real_time();
// Back to ordinary scheduling, for a thread raised by run_in_real_time that
// goes on to other work (a pool's thread); false when refused.
bool run_at_normal_priority();
// Runs the calling thread behind all other work, for its processor and its
// disk (nice 19 and the idle I/O class on Linux; background mode on
// Windows), for work that must never delay what plays; false when refused.
bool run_in_background();

}  // namespace zv
