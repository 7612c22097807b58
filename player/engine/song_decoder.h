#pragma once
// One song file decoded into the program's format (float stereo at 48 kHz)
// by GStreamer, in the background and a little ahead of need. Only the
// file's own sound is decoded: nothing in it can make the player open
// another file or a network address.

#include <cstddef>
#include <optional>
#include <string>

typedef struct _GstElement GstElement;

namespace zv::player {

inline constexpr int PROGRAM_RATE = 48000;
inline constexpr int PROGRAM_CHANNELS = 2;

class SongDecoder {
 public:
  enum class Status { opening, ready, failed };

  // Starts opening `path`; the sound begins `start_s` into the file.
  SongDecoder(const std::string& path, double start_s);
  ~SongDecoder();
  SongDecoder(const SongDecoder&) = delete;
  SongDecoder& operator=(const SongDecoder&) = delete;

  // Follows the opening; never waits.
  Status status();
  const std::string& error() const { return error_; }
  // The file's length in seconds, once ready and when the file tells it.
  std::optional<double> duration() const { return duration_; }
  // Up to `frames` frames into `out` (interleaved), waiting up to `wait_s`
  // for them; fewer when the decoder is that far behind or at the end.
  // `ended` becomes true once everything was read.
  std::size_t read(float* out, std::size_t frames, bool& ended, double wait_s);

 private:
  void fail(std::string why);

  GstElement* pipeline_ = nullptr;
  GstElement* convert_ = nullptr;
  GstElement* sink_ = nullptr;
  Status status_ = Status::opening;
  bool seeking_ = false;
  double start_s_ = 0;
  double opened_at_ = 0;
  std::string error_;
  std::optional<double> duration_;
  void* sample_ = nullptr;  // GstSample being read
  std::size_t sample_offset_ = 0;  // frames of it already read
};

// The GStreamer library, set up once for the process.
void gstreamer_setup();

}  // namespace zv::player
