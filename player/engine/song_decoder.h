#pragma once
// One song file decoded into the program's format (float stereo at its rate)
// by GStreamer, in the background and seconds ahead of need, so a slow disk
// or a busy processor for a moment costs the program nothing. Only the
// file's own sound is decoded: nothing in it can make the player open
// another file or a network address.

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "program_source.h"

typedef struct _GstElement GstElement;

namespace zv::player {

class SongDecoder : public ProgramSource {
 public:
  using Status = ProgramSource::Status;

  // Starts opening `path`; the sound begins `start_s` into the file and comes
  // at `rate`. `wake` is called from GStreamer's threads when sound arrives
  // that has() lacked.
  SongDecoder(const std::string& path, double start_s, std::function<void()> wake = {}, int rate = PROGRAM_RATE);
  ~SongDecoder() override;
  SongDecoder(const SongDecoder&) = delete;
  SongDecoder& operator=(const SongDecoder&) = delete;

  Status status() override;
  const std::string& error() const override { return error_; }
  std::optional<double> duration() const override { return duration_; }
  bool has(std::size_t frames) override;
  std::size_t read(float* out, std::size_t frames, bool& ended) override;
  // The same, waiting up to `wait_s` for frames the decoder has not made yet
  // (for a reader of its own, such as the song's measurement).
  std::size_t read(float* out, std::size_t frames, bool& ended, double wait_s);

 private:
  void fail(std::string why);
  // Takes one decoded buffer, waiting up to `wait_ns`; false when none came.
  bool pull(unsigned long long wait_ns);
  // Takes what the decoder made, without waiting, when fewer than `frames` are read ahead.
  void take_decoded(std::size_t frames);
  std::size_t buffered() const { return (pending_.size() - taken_) / PROGRAM_CHANNELS; }
  static void sound_arrived(void* self);

  GstElement* pipeline_ = nullptr;
  GstElement* convert_ = nullptr;
  GstElement* sink_ = nullptr;
  Status status_ = Status::opening;
  bool seeking_ = false;
  bool ended_ = false;  // the decoder has given its last buffer
  double start_s_ = 0;
  int rate_;
  double opened_at_ = 0;
  std::string error_;
  std::optional<double> duration_;
  std::vector<float> pending_;  // decoded, not yet read; read from taken_ on
  std::size_t taken_ = 0;
  std::function<void()> wake_;
  std::atomic<bool> wanted_{false};  // has() lacked sound: wake on the next buffer
};

// The GStreamer library, set up once for the process; called first at the
// player's own priority (its decoding threads keep it).
void gstreamer_setup();

}  // namespace zv::player
