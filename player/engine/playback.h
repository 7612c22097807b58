#pragma once
// What the station's player asks of whatever makes its program: songs in
// order, each with its sound, on the chosen device and streams; and what
// happened on air, told as events in the order it happened. PlaybackEngine
// is the one that plays; the player's tests put one in its place that plays
// on their word.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine_event.h"
#include "stream_output.h"

namespace zv::player {

struct SongCue {
  double start_at_s = 0;  // where in the file to begin (a song taken up again part-way)
  double gain_db = 0;     // the song's gain to the station's loudness
  double cue_in_s = 0;    // where its sound begins
  double cue_out_s = 0;   // where its sound ends; 0: at the file's end
  bool fades = true;      // crossfaded with the music beside it; false for ads and jingles
  std::string title;      // the stream's title while it plays
  std::string artist;     // the Ogg stream's ARTIST comment while it plays (none: not known)
  std::string name;       // and its TITLE comment
};

// The device name that plays to no sound card, keeping real time.
inline constexpr const char* NULL_DEVICE = "null";

class Playback {
 public:
  virtual ~Playback() = default;

  virtual bool ready() const = 0;
  // Puts the song after those already appended; its entry, or none.
  virtual std::optional<std::int64_t> append(const std::string& path, const SongCue& cue) = 0;
  // Ends the song on air now with a quick fade; the next starts at once. Its
  // end comes as the usual finished event.
  virtual void skip() = 0;
  // Drops an appended song that is not yet on air.
  virtual void remove(std::int64_t entry) = 0;
  // Drops every appended song; what plays stops.
  virtual void clear() = 0;
  // Plays on the ALSA device `alsa_name` (NULL_DEVICE: none) from the next
  // song that starts; at once while nothing plays or the card fails. A
  // device that cannot be opened is told as device_failed and tried again
  // every 5 s.
  virtual void use_device(const std::string& alsa_name) = 0;
  // Whether the sound card chosen last fails now (it cannot be opened, or has stopped).
  virtual bool device_failing() const = 0;
  // Overlap of consecutive music songs from the next song on; 0 for none.
  virtual void set_crossfade(double seconds) = 0;
  // Sends the program to these servers (none: no stream), reconnecting by itself.
  virtual void set_streams(const std::vector<StreamTarget>& targets) = 0;
  // Waits up to `timeout_s` for the next event; none when there was none.
  virtual std::optional<EngineEvent> next_event(double timeout_s) = 0;
  // Seconds into the song now playing, and its length when known.
  virtual double position() const = 0;
  virtual std::optional<double> length() const = 0;
};

}  // namespace zv::player
