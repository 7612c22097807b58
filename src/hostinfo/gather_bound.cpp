#include "hostinfo/gather_bound.h"
#include "platform/console.h"

#include <cstdio>

namespace zv {
namespace {

thread_local GatherBound* current = nullptr;

}  // namespace

GatherBound::GatherBound(std::chrono::steady_clock::time_point deadline, std::size_t bytes)
    : deadline_(deadline), bytes_(bytes) {
  current = this;
}

GatherBound::~GatherBound() { current = nullptr; }

bool gathering_must_stop(std::size_t gathered) {
  GatherBound* bound = current;
  if (!bound) return false;
  if (bound->stopped_) return true;
  if (gathered >= bound->bytes_) {
    narrate("\n---> The walk stops: the form body has reached its bound\n");
  } else if (std::chrono::steady_clock::now() >= bound->deadline_) {
    narrate("\n---> The walk stops: the request's time is up\n");
  } else {
    return false;
  }
  bound->stopped_ = true;
  return true;
}

}  // namespace zv
