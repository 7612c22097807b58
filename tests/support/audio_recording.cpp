#include "support/audio_recording.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv::testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t FRAME_BYTES = 4;
constexpr double BYTES_PER_SECOND = RECORDING_RATE * FRAME_BYTES;
// How far the sound card's clock may run ahead of the data before it hears silence.
constexpr double SLACK_SECONDS = 0.05;
constexpr std::size_t WINDOW = RECORDING_RATE / 100;  // 10 ms
constexpr int QUIET = 300;

}  // namespace

AudioRecorder::AudioRecorder(std::filesystem::path fifo) : fifo_(std::move(fifo)) {
  ::mkfifo(fifo_.c_str(), 0600);
  thread_ = std::thread([this] { run(); });
}

AudioRecorder::~AudioRecorder() {
  stop_ = true;
  thread_.join();
}

bool AudioRecorder::run_at_realtime_priority() {
  sched_param priority{};
  priority.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
  return pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &priority) == 0;
}

void AudioRecorder::run() {
  int fd = -1;
  auto last = Clock::now();
  double allowance = 0;  // bytes the card may take now
  std::vector<char> chunk;
  std::string partial;  // an odd end of a frame
  while (!stop_) {
    ::usleep(5000);
    const auto now = Clock::now();
    if (unplugged_ && fd >= 0) {
      ::close(fd);
      fd = -1;
      partial.clear();  // the next writer starts on a whole frame
    }
    if (!unplugged_ && fd < 0) fd = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (held_ || fd < 0) {
      last = now;
      continue;
    }
    allowance += std::chrono::duration<double>(now - last).count() * BYTES_PER_SECOND;
    last = now;
    chunk.resize(static_cast<std::size_t>(allowance));
    const ssize_t got = chunk.empty() ? 0 : ::read(fd, chunk.data(), chunk.size());
    std::lock_guard hold(lock_);
    if (got > 0) {
      allowance -= static_cast<double>(got);
      partial.append(chunk.data(), static_cast<std::size_t>(got));
      const std::size_t whole = partial.size() / FRAME_BYTES * FRAME_BYTES;
      for (std::size_t i = 0; i < whole; i += 2) {
        samples_.push_back(static_cast<std::int16_t>(static_cast<unsigned char>(partial[i]) |
                                                     (static_cast<unsigned char>(partial[i + 1]) << 8)));
      }
      partial.erase(0, whole);
    }
    if (allowance > SLACK_SECONDS * BYTES_PER_SECOND) {  // nothing came in time: silence
      const auto frames = static_cast<std::size_t>((allowance - SLACK_SECONDS * BYTES_PER_SECOND) / FRAME_BYTES);
      samples_.insert(samples_.end(), frames * 2, 0);
      allowance -= static_cast<double>(frames * FRAME_BYTES);
    }
  }
  if (fd >= 0) ::close(fd);
}

std::vector<std::int16_t> AudioRecorder::left_channel() const {
  std::lock_guard hold(lock_);
  std::vector<std::int16_t> left;
  for (std::size_t i = 0; i < samples_.size(); i += 2) left.push_back(samples_[i]);
  return left;
}

std::vector<std::int16_t> AudioRecorder::right_channel() const {
  std::lock_guard hold(lock_);
  std::vector<std::int16_t> right;
  for (std::size_t i = 1; i < samples_.size(); i += 2) right.push_back(samples_[i]);
  return right;
}

std::string recorded_device_config(const std::string& name, const AudioRecorder& recorder) {
  return "pcm." + name + " { type plug slave { pcm { type file slave.pcm { type null } file \"" +
         recorder.fifo().string() + "\" format \"raw\" } format S16_LE rate 44100 channels 2 } }\n";
}

std::vector<Tone> tones_heard(const std::vector<std::int16_t>& samples) {
  std::vector<Tone> tones;
  for (std::size_t start = 0; start + WINDOW <= samples.size(); start += WINDOW) {
    int crossings = 0, loudest = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = start; i < start + WINDOW; ++i) {
      loudest = std::max(loudest, std::abs(static_cast<int>(samples[i])));
      if (i > start && (samples[i - 1] < 0) != (samples[i] < 0)) {
        if (crossings++ == 0) first = i;
        last = i;
      }
    }
    if (loudest < QUIET) continue;
    // From the first crossing to the last: a count over the window would be
    // 50 Hz coarse, too coarse to tell 440 from 550 Hz where they meet.
    const int hz =
        crossings < 2
            ? 0
            : static_cast<int>(std::lround((crossings - 1) / 2.0 * RECORDING_RATE / static_cast<double>(last - first)));
    if (!tones.empty() && tones.back().end == start && std::abs(tones.back().hz - hz) <= 60) {
      // A tone's first window may straddle its edge, where the tone before
      // sounds too: the tone's frequency is its second window's, else a
      // neighbour within 60 Hz of that mixed window would run into it.
      if (tones.back().end - tones.back().start == WINDOW) tones.back().hz = hz;
      tones.back().end = start + WINDOW;
    } else {
      tones.push_back({hz, start, start + WINDOW});
    }
  }
  std::vector<Tone> long_tones;
  for (const Tone& tone : tones) {
    if (tone.end - tone.start < RECORDING_RATE / 10) continue;
    if (!long_tones.empty() && tone.start <= long_tones.back().end + WINDOW &&
        std::abs(long_tones.back().hz - tone.hz) <= 60) {
      long_tones.back().end = tone.end;  // one tone, split by a window across its edge
    } else {
      long_tones.push_back(tone);
    }
  }
  // A tone's frequency over its whole length (first crossing to last, so
  // its quiet edges count for nothing), rounded to 10 Hz.
  for (Tone& tone : long_tones) {
    int crossings = 0;
    std::size_t first = 0, last = 0;
    for (std::size_t i = tone.start + 1; i < tone.end; ++i) {
      if ((samples[i - 1] < 0) == (samples[i] < 0)) continue;
      if (crossings++ == 0) first = i;
      last = i;
    }
    tone.hz =
        crossings < 2
            ? 0
            : static_cast<int>(
                  std::lround((crossings - 1) / 2.0 * RECORDING_RATE / static_cast<double>(last - first) / 10) * 10);
  }
  return long_tones;
}

double tone_level(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to, int hz) {
  // The tone's part of the signal, as a sine's amplitude (Goertzel).
  to = std::min(to, samples.size());
  if (to <= from) return 0;
  const double w = 2 * M_PI * hz / RECORDING_RATE, k = 2 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double s = samples[i] / 32768.0 + k * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
  return 2 * std::sqrt(std::max(0.0, power)) / static_cast<double>(to - from);
}

double longest_silence_ms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to) {
  std::size_t run = 0, longest = 0;
  for (std::size_t i = from; i < to && i < samples.size(); ++i) {
    run = std::abs(static_cast<int>(samples[i])) < QUIET / 10 ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  // A sine passes zero in a sample or two; a longer quiet run is a gap.
  return longest <= 2 ? 0.0 : longest * 1000.0 / RECORDING_RATE;
}

double gap_ms(const std::vector<std::int16_t>& samples, const Tone& first, const Tone& next) {
  // The longest run of quiet samples between the last window of one tone and the first of the next.
  return longest_silence_ms(samples, first.end > WINDOW ? first.end - WINDOW : 0, next.start + WINDOW);
}

}  // namespace zv::testing
