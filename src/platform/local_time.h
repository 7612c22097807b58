#pragma once
// The local wall-clock time (GetLocalTime). Tests may pin it.

#include <cstdint>

namespace zv {

struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;        // 1..12
  std::uint16_t day_of_week = 0;  // 0 = Sunday
  std::uint16_t day = 0;          // 1..31
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

LocalTime get_local_time();
// Pins the time get_local_time reports; null returns to the system clock.
void pin_local_time(const LocalTime* time);

LocalTime system_local_time();  // provided by each platform side

}  // namespace zv
