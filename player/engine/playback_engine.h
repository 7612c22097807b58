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

#include "playback.h"

namespace zv::player {

class PlaybackEngine final : public Playback {
 public:
  PlaybackEngine();
  ~PlaybackEngine();
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  bool ready() const override;
  // Puts the song after those already appended; its entry, or none.
  std::optional<std::int64_t> append(const std::string& path, const SongCue& cue) override;
  // Ends the song on air now with a quick fade; the next starts at once. Its
  // end comes as the usual finished event.
  void skip() override;
  // Drops an appended song that is not yet on air.
  void remove(std::int64_t entry) override;
  // Drops every appended song; what plays stops.
  void clear() override;
  // Plays on the ALSA device `alsa_name` (NULL_DEVICE: none) from the next
  // song that starts; at once while nothing plays or the card fails.
  // Opening happens in the background; a device that cannot be opened is
  // told as device_failed and tried again every 5 s.
  void use_device(const std::string& alsa_name) override;
  // Whether the sound card chosen last fails now (it cannot be opened, or has stopped).
  bool device_failing() const override;
  // Overlap of consecutive music songs from the next song on; 0 for none.
  void set_crossfade(double seconds) override;
  // Sends the program to these servers (none: no stream), reconnecting by itself.
  void set_streams(const std::vector<StreamTarget>& targets) override;
  // Waits up to `timeout_s` for the engine's next event; none when there was none.
  std::optional<EngineEvent> next_event(double timeout_s) override;
  // Seconds into the song now playing, and its length when known.
  double position() const override;
  std::optional<double> length() const override;

  // Whether the ALSA device `alsa_name` can be opened now.
  static bool device_opens(const std::string& alsa_name);

 private:
  struct Program;
  std::unique_ptr<Program> program_;
};

}  // namespace zv::player
