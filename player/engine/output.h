#pragma once
// One place the program goes: the sound card or a stream. The engine keeps
// its outputs in one list and gives each every block it makes; the clock is
// a role: the card keeps the program's time while it plays, and when it
// fails or stalls the system's clock takes over and the streams go on.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine_event.h"

namespace zv::player {

using EngineClock = std::chrono::steady_clock;

class Output {
 public:
  virtual ~Output() = default;
  virtual void push(const float* frames, std::size_t count) = 0;
  // Looks after the output: its faults, its retries. Never waits; what it
  // has to say goes into `told`.
  virtual void follow(EngineClock::time_point now, std::vector<EngineEvent>& told) = 0;
  // Whether listeners hear the program through it now.
  virtual bool carries() const = 0;
  // Whether it keeps the program's time (a card that plays).
  virtual bool keeps_time() const { return false; }
  // Of the `made` frames of program, those it has played out (time keepers only).
  virtual std::int64_t heard(std::int64_t made) const { return made; }
  // Whether it wants more program now (time keepers only).
  virtual bool needs_program() const { return false; }
  // When follow() is due again though nothing wakes the engine.
  virtual EngineClock::time_point next_follow(EngineClock::time_point now) const = 0;
};

}  // namespace zv::player
