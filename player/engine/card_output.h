#pragma once
// The sound card as an output: opened in the background, fed from the
// engine's thread, its faults found within seconds (it cannot be opened, it
// stops taking sound, or it takes sound faster than it can play it) and it
// is opened again every 5 s until it plays. While it plays it keeps the
// program's time. Its own rate is found before it opens, and it is opened
// at that rate so ALSA does not convert: where the program is made at it
// too, the program reaches the card as it was made.

#include <memory>
#include <optional>
#include <string>

#include "engine_wake.h"
#include "output.h"
#include "program_output.h"

namespace zv::player {

class CardOutput : public Output {
 public:
  // `fault`: the fault of the card it takes the place of, which passes once this one plays.
  // `rate`: the program's, 0 while it is not chosen (set_program_rate()).
  CardOutput(std::string alsa_name, std::shared_ptr<EngineWake> wake, int rate, std::string fault = {});
  ~CardOutput() override;

  void push(const float* frames, std::size_t count) override;
  void follow(EngineClock::time_point now, std::vector<EngineEvent>& told) override;
  bool carries() const override { return state_ == State::playing; }
  bool keeps_time() const override { return carries(); }
  std::int64_t heard(std::int64_t made) const override;
  bool needs_program() const override;
  EngineClock::time_point next_follow(EngineClock::time_point now) const override;
  const std::string& name() const { return name_; }
  // The rate the card plays without converting, once found; 0: it cannot be told.
  std::optional<int> native_rate() const;
  void set_program_rate(int rate);
  // Once it goes, it plays out what it holds (another card takes over).
  void drain() { drain_ = true; }
  // Seconds of program it holds that it has not taken yet.
  double ahead_seconds() const;
  // Why it fails, while it does; empty while it opens or plays.
  const std::string& fault() const { return fault_; }

 private:
  enum class State { opening, settling, playing, failed };
  struct Probe;
  void open(EngineClock::time_point now);
  void start_pipeline();
  void fail(const std::string& why, EngineClock::time_point now, std::vector<EngineEvent>& told);
  std::int64_t taken() const;

  std::string name_;
  std::shared_ptr<EngineWake> wake_;
  std::shared_ptr<ProgramOutput> pipeline_;  // none while its rate is found
  std::shared_ptr<Probe> probe_;
  int rate_;
  State state_ = State::opening;
  bool drain_ = false;
  std::string fault_;  // its fault is told and it has not played since
  EngineClock::time_point retry_at_{};
  std::int64_t settling_left_ = 0;  // frames of silence it still plays before the program
  // What it can have played out by now at most: that grows no faster than
  // real time, however fast it takes the program.
  std::int64_t played_limit_ = 0;
  EngineClock::time_point followed_{};
  std::int64_t last_taken_ = 0;
  EngineClock::time_point last_progress_{};
};

}  // namespace zv::player
