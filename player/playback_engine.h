#pragma once
// Decoding and sound output through libmpv: songs are appended to its list
// and follow one another without a gap on one open sound device.

#include <cstdint>
#include <optional>
#include <string>

struct mpv_handle;

namespace zv::player {

// How a song is to be played.
struct SongCue {
  double start_at_s = 0;  // seconds into the song its sound begins at
};

struct EngineEvent {
  enum class Kind { none, started, finished, failed, device_failed };
  Kind kind = Kind::none;
  std::int64_t entry = 0;  // what append returned for the song
  std::string error;       // failed, device_failed: why
};

class PlaybackEngine {
 public:
  PlaybackEngine();
  ~PlaybackEngine();
  PlaybackEngine(const PlaybackEngine&) = delete;
  PlaybackEngine& operator=(const PlaybackEngine&) = delete;

  bool ready() const { return handle_ != nullptr; }
  // Puts the song after those already appended; its entry, or none.
  std::optional<std::int64_t> append(const std::string& path, const SongCue& cue = {});
  // Ends the song on air now and starts the next at once; the end comes as
  // the song's usual finished event.
  void skip();
  // Drops an appended song that is not yet on air.
  void remove(std::int64_t entry);
  // Plays on the ALSA device `alsa_name` from now on.
  void use_device(const std::string& alsa_name);
  // Drops every appended song; what plays stops.
  void clear();
  // Waits up to `timeout_s` for the engine's next event; none when there was
  // none. Events that do not matter here come as Kind::none.
  std::optional<EngineEvent> next_event(double timeout_s);
  // Seconds into the song now playing, and its length when known.
  double position() const;
  std::optional<double> length() const;

 private:
  mpv_handle* handle_ = nullptr;
};

}  // namespace zv::player
