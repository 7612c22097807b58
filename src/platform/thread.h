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

}  // namespace zv
