#include "platform/local_time.h"

#include <windows.h>

namespace zv {

LocalTime system_local_time() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear,   now.wMonth,  now.wDayOfWeek, now.wDay,
                   now.wHour,   now.wMinute, now.wSecond,    now.wMilliseconds};
}

}  // namespace zv
