#include "platform/time_limits.h"

#include <cstdlib>

namespace zv {
namespace {

long divisor() {
  static const long value = [] {
    const char* text = std::getenv("ZV_TEST_LIMIT_DIVISOR");
    const long n = text ? std::strtol(text, nullptr, 10) : 1;
    return n >= 1 ? n : 1;
  }();
  return value;
}

}  // namespace

std::chrono::milliseconds time_limit(std::chrono::milliseconds as_written) { return as_written / divisor(); }

long milliseconds_until(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now) {
  return when <= now ? 0 : static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count());
}

}  // namespace zv
