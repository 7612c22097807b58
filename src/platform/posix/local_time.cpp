#include "platform/local_time.h"

#include <ctime>
#include <sys/time.h>

namespace zv {

LocalTime system_local_time() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  tm parts{};
  ::localtime_r(&now.tv_sec, &parts);
  LocalTime t;
  t.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
  t.month = static_cast<std::uint16_t>(parts.tm_mon + 1);
  t.day_of_week = static_cast<std::uint16_t>(parts.tm_wday);
  t.day = static_cast<std::uint16_t>(parts.tm_mday);
  t.hour = static_cast<std::uint16_t>(parts.tm_hour);
  t.minute = static_cast<std::uint16_t>(parts.tm_min);
  t.second = static_cast<std::uint16_t>(parts.tm_sec);
  t.milliseconds = static_cast<std::uint16_t>(now.tv_usec / 1000);
  return t;
}

}  // namespace zv
