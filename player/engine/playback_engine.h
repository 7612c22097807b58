#pragma once
// The station's program: songs follow one another in one output format
// (stereo, 48 kHz), each at its own gain, between its cue points, music
// crossfaded with music; the program goes to its outputs, the sound card and
// the stream servers. A thread of the engine's own makes the program in
// blocks of 100 ms as the outputs need it, so a device, a stream or a
// decoder that stalls never holds up whoever calls in here. A card that
// fails leaves the program to the streams at the system's clock; with none
// to carry it, the program waits and the songs not heard whole are told.

#include <cstdint>
#include <memory>
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

class PlaybackEngine {
 public:
  PlaybackEngine();
  ~PlaybackEngine();
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  bool ready() const;
  // Puts the song after those already appended; its entry, or none.
  std::optional<std::int64_t> append(const std::string& path, const SongCue& cue = {});
  // Ends the song on air now with a quick fade; the next starts at once. Its
  // end comes as the usual finished event.
  void skip();
  // Drops an appended song that is not yet on air.
  void remove(std::int64_t entry);
  // Drops every appended song; what plays stops.
  void clear();
  // Plays on the ALSA device `alsa_name` (NULL_DEVICE: none) from the next
  // song that starts; at once while nothing plays or the card fails.
  // Opening happens in the background; a device that cannot be opened is
  // told as device_failed and tried again every 5 s.
  void use_device(const std::string& alsa_name);
  // Whether the sound card chosen last fails now (it cannot be opened, or has stopped).
  bool device_failing() const;
  // Overlap of consecutive music songs from the next song on; 0 for none.
  void set_crossfade(double seconds);
  // Sends the program to these servers (none: no stream), reconnecting by itself.
  void set_streams(const std::vector<StreamTarget>& targets);
  // Waits up to `timeout_s` for the engine's next event; none when there was none.
  std::optional<EngineEvent> next_event(double timeout_s);
  // Seconds into the song now playing, and its length when known.
  double position() const;
  std::optional<double> length() const;

  // Whether the ALSA device `alsa_name` can be opened now.
  static bool device_opens(const std::string& alsa_name);

 private:
  struct Program;
  std::unique_ptr<Program> program_;
};

}  // namespace zv::player
