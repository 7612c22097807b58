#include "platform/local_time.h"

#include <atomic>

namespace zv {
namespace {
std::atomic<bool> pinned{false};
LocalTime pinned_time;
}  // namespace

LocalTime get_local_time() { return pinned.load() ? pinned_time : system_local_time(); }

void pin_local_time(const LocalTime* time) {
  pinned = false;
  if (time) {
    pinned_time = *time;
    pinned = true;
  }
}

}  // namespace zv
