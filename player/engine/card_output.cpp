#include "card_output.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include "platform/sound_devices.h"
#include "program_source.h"
#include "song_mixing.h"

namespace zv::player {

namespace {

// The program made ahead of what the card takes, on top of ALSA's own
// buffer: together about half a second, enough to ride out a busy machine.
constexpr double AHEAD_S = 0.25;
constexpr double MOST_HELD_S = 1;
// ALSA's buffer and the period it is woken at.
constexpr const char* CARD_SINK = "alsasink name=sink sync=false buffer-time=250000 latency-time=100000";
constexpr double SETTLING_S = 0.4;
// A card that holds program and has taken none of it this long has stopped.
constexpr auto STALLED_AFTER = std::chrono::seconds(1);
constexpr auto RETRY = std::chrono::seconds(5);
constexpr auto FOLLOW_EVERY = std::chrono::milliseconds(250);
// A card plays at most in real time, plus what its buffers hold: one that
// takes the program faster than that does not play it out (its writes fail).
constexpr double RATE_SLACK = 1.02;
constexpr double BUFFER_S = 1;
constexpr double AHEAD_LIMIT_S = 2;

}  // namespace

// Finding the card's rate opens it, which may wait on the device: it is
// done on a thread of its own, as the opening is.
struct CardOutput::Probe {
  std::atomic<int> rate{-1};  // -1 until found
};

CardOutput::CardOutput(std::string alsa_name, std::shared_ptr<EngineWake> wake, int rate, std::string fault)
    : name_(std::move(alsa_name)), wake_(std::move(wake)), rate_(rate), fault_(std::move(fault)) {
  open(EngineClock::now());
}

CardOutput::~CardOutput() { ProgramOutput::close(std::move(pipeline_), drain_ && state_ == State::playing); }

void CardOutput::open(EngineClock::time_point now) {
  state_ = State::opening;
  retry_at_ = now + RETRY;
  if (probe_ && probe_->rate > 0) return start_pipeline();
  probe_ = std::make_shared<Probe>();
  std::thread([probe = probe_, name = name_, wake = wake_] {
    probe->rate = sound_device_native_rate(name.c_str());
    wake->wake();
  }).detach();
}

std::optional<int> CardOutput::native_rate() const {
  if (!probe_ || probe_->rate < 0) return std::nullopt;
  return probe_->rate.load();
}

void CardOutput::set_program_rate(int rate) {
  rate_ = rate;
  if (state_ == State::opening && !pipeline_ && native_rate()) start_pipeline();
}

void CardOutput::start_pipeline() {
  if (rate_ <= 0) return;  // the program's rate waits for this card's
  const int native = native_rate().value_or(0);
  // The program is converted once, here, where its rate is not the card's.
  const std::string pipeline = "audioconvert ! audioresample ! " +
                               (native > 0 ? "audio/x-raw,rate=" + std::to_string(native) + " ! " : "") + CARD_SINK;
  pipeline_ = ProgramOutput::make(
      pipeline, rate_, MOST_HELD_S, AHEAD_S, [wake = wake_] { wake->wake(); }, true);
  if (GstElement* sink = pipeline_->element("sink")) g_object_set(sink, "device", name_.c_str(), nullptr);
  pipeline_->start([wake = wake_] { wake->wake(); });
}

void CardOutput::fail(const std::string& why, EngineClock::time_point now, std::vector<EngineEvent>& told) {
  ProgramOutput::close(std::move(pipeline_));
  pipeline_.reset();
  state_ = State::failed;
  retry_at_ = now + RETRY;
  if (!fault_.empty()) return;
  fault_ = why;
  told.push_back({EngineEvent::Kind::device_failed, 0, why, {}});
}

std::int64_t CardOutput::taken() const {
  return static_cast<std::int64_t>(pipeline_->pushed()) - frames_at(pipeline_->queued_seconds(), rate_);
}

void CardOutput::push(const float* frames, std::size_t count) {
  if (state_ == State::playing) pipeline_->push(frames, count);
}

bool CardOutput::needs_program() const { return state_ == State::playing && pipeline_->queued_seconds() < AHEAD_S; }

double CardOutput::ahead_seconds() const { return state_ == State::playing ? pipeline_->queued_seconds() : 0; }

std::int64_t CardOutput::heard(std::int64_t made) const {
  if (state_ != State::playing) return made;
  // What it took faster than it can play and hold is not heard.
  const std::int64_t beyond = std::max<std::int64_t>(0, taken() - played_limit_ - frames_at(BUFFER_S, rate_));
  return std::max<std::int64_t>(0, made - frames_at(pipeline_->queued_seconds(), rate_) - beyond);
}

void CardOutput::follow(EngineClock::time_point now, std::vector<EngineEvent>& told) {
  if (state_ == State::failed) {
    if (now >= retry_at_) open(now);
    return;
  }
  if (!pipeline_ && native_rate()) start_pipeline();
  if (!pipeline_ || pipeline_->state() == ProgramOutput::State::starting) {
    if (now >= retry_at_) fail("it does not open", now, told);  // a device whose opening hangs
    return;
  }
  if (pipeline_->state() == ProgramOutput::State::failed) return fail("audio output initialization failed", now, told);
  if (auto fault = pipeline_->poll()) return fail(*fault, now, told);
  if (state_ == State::opening) {
    state_ = State::settling;
    settling_left_ = frames_at(SETTLING_S, rate_);
  }
  if (state_ == State::settling) {
    // A card that has just opened plays silence until it plays steadily, so
    // no song's sound is held up in it.
    const std::int64_t block = rate_ / 10;
    const std::vector<float> silence(static_cast<std::size_t>(block) * PROGRAM_CHANNELS, 0.0f);
    while (pipeline_->queued_seconds() < AHEAD_S && settling_left_ > 0) {
      pipeline_->push(silence.data(), static_cast<std::size_t>(block));
      if (pipeline_->playing()) settling_left_ -= block;
    }
    if (settling_left_ > 0) return;
    state_ = State::playing;
    played_limit_ = last_taken_ = taken();
    followed_ = last_progress_ = now;
    if (!fault_.empty()) told.push_back({EngineEvent::Kind::device_back, 0, {}, {}});
    fault_.clear();
    return;
  }
  const std::int64_t took = taken();
  if (took > last_taken_ || pipeline_->queued_seconds() <= 0) {
    last_taken_ = took;
    last_progress_ = now;
  } else if (now - last_progress_ >= STALLED_AFTER) {
    return fail("it has stopped taking sound", now, told);
  }
  played_limit_ = std::min(
      took, played_limit_ + frames_at(std::chrono::duration<double>(now - followed_).count() * RATE_SLACK, rate_));
  followed_ = now;
  // Such a card takes whatever it is given at once: found before its songs go by unheard.
  if (took - played_limit_ > frames_at(AHEAD_LIMIT_S, rate_)) fail("it does not play out what it takes", now, told);
}

EngineClock::time_point CardOutput::next_follow(EngineClock::time_point now) const {
  if (state_ == State::failed) return retry_at_;
  if (state_ == State::opening) return retry_at_;  // its start wakes the engine before
  return now + FOLLOW_EVERY;
}

}  // namespace zv::player
