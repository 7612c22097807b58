#pragma once
// What the program is made of. A source gives sound in the program's format
// when asked and never makes the engine wait for it: a song file is one
// (SongDecoder), a live input would be another.

#include <cstddef>
#include <optional>
#include <string>

namespace zv::player {

// The program's rate where no sound card says otherwise (the rate Opus is made at).
inline constexpr int PROGRAM_RATE = 48000;
inline constexpr int PROGRAM_CHANNELS = 2;

class ProgramSource {
 public:
  enum class Status { opening, ready, failed };

  virtual ~ProgramSource() = default;
  // Follows the opening; never waits.
  virtual Status status() = 0;
  virtual const std::string& error() const = 0;
  // Its length in seconds, once ready and when known.
  virtual std::optional<double> duration() const = 0;
  // Whether `frames` frames (or everything up to its end) can be read at
  // once. When not, the source calls its wake function as soon as sound
  // arrives, so the engine waits on it rather than asking again and again.
  virtual bool has(std::size_t frames) = 0;
  // Up to `frames` frames into `out` (interleaved) without waiting; fewer
  // when it is behind. `ended` becomes true once everything was read.
  virtual std::size_t read(float* out, std::size_t frames, bool& ended) = 0;
};

}  // namespace zv::player
