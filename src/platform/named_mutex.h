#pragma once
// The process-wide connection lock. A thread that acquires it holds it until
// it releases it or ends; the end of the thread hands it to the next waiter,
// which then sees it abandoned.

#include <cstdint>

namespace zv {

using MutexHandle = std::uintptr_t;  // 0 means "no mutex"

enum class MutexWait { signalled, abandoned, timed_out, failed };

MutexHandle create_named_mutex(const char16_t* name);  // creates or opens; 0 on failure
MutexWait wait_for_mutex(MutexHandle mutex, std::uint32_t milliseconds);
void release_mutex(MutexHandle mutex);  // ReleaseMutex: gives up this thread's ownership
void close_mutex(MutexHandle mutex);  // closes the handle; does not release ownership

}  // namespace zv
