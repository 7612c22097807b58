#include "platform/named_mutex.h"

#include <windows.h>

namespace zv {
namespace {
HANDLE native(MutexHandle mutex) { return reinterpret_cast<HANDLE>(mutex); }
}  // namespace

MutexHandle create_named_mutex(const char16_t* name) {
  return reinterpret_cast<MutexHandle>(CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name)));
}

MutexWait wait_for_mutex(MutexHandle mutex, std::uint32_t milliseconds) {
  // Ownership stays with the calling thread until it releases it or ends; at
  // its end Windows marks the mutex abandoned and hands it to the next waiter.
  switch (WaitForSingleObject(native(mutex), milliseconds)) {
    case WAIT_OBJECT_0:
      return MutexWait::signalled;
    case WAIT_ABANDONED:
      return MutexWait::abandoned;
    case WAIT_TIMEOUT:
      return MutexWait::timed_out;
    default:
      return MutexWait::failed;
  }
}

void release_mutex(MutexHandle mutex) {
  if (mutex) ReleaseMutex(native(mutex));
}

void close_mutex(MutexHandle mutex) {
  if (mutex) CloseHandle(native(mutex));
}

}  // namespace zv
