#pragma once
// What a player plays on an ALSA device of the test's own: the device writes
// raw 16-bit stereo at 44100 Hz into a FIFO, which a recorder drains at the
// pace of a sound card, filling silence in when nothing comes, as a listener
// would hear it.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zv::testing {

inline constexpr int RECORDING_RATE = 44100;

class AudioRecorder {
 public:
  explicit AudioRecorder(std::filesystem::path fifo);  // makes the FIFO and starts draining it
  ~AudioRecorder();
  AudioRecorder(const AudioRecorder&) = delete;
  AudioRecorder& operator=(const AudioRecorder&) = delete;

  const std::filesystem::path& fifo() const { return fifo_; }
  // Drains at real-time priority, as a sound card's interrupt would: a busy
  // machine then never shows as a gap of the recorder's own. False when the
  // system refuses it.
  bool run_at_realtime_priority();
  // A device that stalls: nothing is taken from the FIFO (and nothing heard) while held.
  void hold(bool held) { held_ = held; }
  // A device whose writes fail: the FIFO has no reader (the writer gets
  // EPIPE) until it is plugged in again; nothing is heard meanwhile.
  void unplug(bool unplugged) { unplugged_ = unplugged; }
  std::vector<std::int16_t> left_channel() const;  // everything heard so far
  std::vector<std::int16_t> right_channel() const;

 private:
  void run();
  std::filesystem::path fifo_;
  mutable std::mutex lock_;
  std::vector<std::int16_t> samples_;  // interleaved left, right
  std::atomic<bool> stop_{false};
  std::atomic<bool> held_{false};
  std::atomic<bool> unplugged_{false};
  std::thread thread_;
};

// An ALSA configuration with a playback device `name` that plays into the
// recorder's FIFO ("!default" for the default device).
std::string recorded_device_config(const std::string& name, const AudioRecorder& recorder);

struct Tone {
  int hz = 0;
  std::size_t start = 0;  // first sample
  std::size_t end = 0;    // one past the last sample
};

// The tones heard, in order: stretches of sound with one frequency, at least
// 0.1 s long; silence and short bursts between them are not tones.
std::vector<Tone> tones_heard(const std::vector<std::int16_t>& samples);
// The level (0 to 1 of full scale) of the `hz` tone in samples [from, to).
double tone_level(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to, int hz);
// Milliseconds of the longest silence within samples [from, to).
double longest_silence_ms(const std::vector<std::int16_t>& samples, std::size_t from, std::size_t to);
// Milliseconds of silence between the end of `first` and the start of `next`.
double gap_ms(const std::vector<std::int16_t>& samples, const Tone& first, const Tone& next);

}  // namespace zv::testing
