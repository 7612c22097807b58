#pragma once
// The station's program: songs follow one another in one output format
// (stereo, 48 kHz), each at its own gain, between its cue points, music
// crossfaded with music; the program plays on the sound device and goes to
// the stream servers. A thread of the engine's own makes the program, so a
// device or stream that stalls never holds up whoever calls in here.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zv::player {

struct SongCue {
  double start_at_s = 0;  // where in the file to begin (a song taken up again part-way)
  double gain_db = 0;     // the song's gain to the station's loudness
  double cue_in_s = 0;    // where its sound begins
  double cue_out_s = 0;   // where its sound ends; 0: at the file's end
  bool fades = true;      // crossfaded with the music beside it; false for ads and jingles
  std::string title;      // the stream's title while it plays
};

struct EngineEvent {
  enum class Kind { none, started, finished, failed, device_failed, stream_up, stream_down };
  Kind kind = Kind::none;
  std::int64_t entry = 0;  // what append returned for the song
  std::string error;       // failed, device_failed, stream_down: why
  std::string stream;      // stream_up, stream_down: the stream's address
};

// One stream server the program is sent to.
struct StreamTarget {
  std::string host;
  int port = 8000;
  std::string mount;     // "/stream.mp3"
  std::string password;  // the source password
  bool opus = false;     // Ogg Opus; MP3 otherwise
  int kbps = 128;
  // What the station calls itself, sent to listeners as icy-name, icy-description, icy-genre and icy-url.
  std::string name{}, description{}, genre{}, url{};
  bool operator==(const StreamTarget&) const = default;
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
  // Plays on the ALSA device `alsa_name` from now on (NULL_DEVICE: none).
  void use_device(const std::string& alsa_name);
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
