#pragma once
// The station's player: what the station hands off goes on air in order, the
// coming hour's schedule when nothing was handed off, on the sound device the
// station chose; every song played to its end is counted in the library.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "library_worker.h"
#include "onair_file.h"
#include "playback_engine.h"
#include "queued_song.h"
#include "song_facts.h"
#include "stream_status.h"

namespace zv::player {

// One message of the window, as its procedure received it.
struct WindowMessage {
  std::uint64_t dw_data = 0;
  std::string text;  // a song's path (COPYDATA_LIST_ITEM)
};

class StationPlayer {
 public:
  // Runs in `server_folder`; `system_default` is the ALSA device used when the
  // station chose the system's default.
  StationPlayer(const std::filesystem::path& server_folder, std::string system_default);

  bool ready() const { return engine_.ready(); }
  // From the window's procedure: kept for the next step, answered at once.
  void receive(WindowMessage message);
  // Does what is due: takes in the received songs, follows playback, keeps
  // the engine supplied, publishes the state. Waits up to `timeout_s` for
  // playback when there is nothing else to do.
  void step(double timeout_s);

 private:
  struct Loaded {
    std::int64_t entry = 0;
    QueuedSong song;
  };

  void take_messages();
  void follow(const EngineEvent& event);
  void supply();
  void apply_device_choice();
  void publish();
  std::optional<QueuedSong> next_song();
  // The station's sound settings, read again before each song.
  SongCue sound_of(const QueuedSong& song);
  void report_stream(const EngineEvent& event);
  RecentPlays recent_songs(std::int64_t now) const;

  std::filesystem::path folder_;
  std::string system_default_;
  PlaybackEngine engine_;
  LibraryWorker library_;
  SongFactsWorker song_facts_;
  std::map<std::string, StreamState> streams_;

  std::mutex inbox_lock_;
  std::vector<WindowMessage> inbox_;

  std::deque<QueuedSong> queue_;      // handed off, not yet given to the engine
  std::deque<QueuedSong> schedule_;   // the coming hour's songs, played when queue_ is empty
  std::int64_t schedule_built_ = 0;
  bool schedule_asked_ = false;
  std::int64_t schedule_retry_at_ = 0;
  std::deque<Loaded> loaded_;         // given to the engine, the one on air first
  std::optional<NowPlaying> now_;
  std::deque<PlayedSong> history_;
  std::string device_;
  std::int64_t device_retry_at_ = 0;
  std::chrono::steady_clock::time_point published_{};
  bool changed_ = true;
};

// Seconds since 1970, UTC.
std::int64_t unix_now();

}  // namespace zv::player
