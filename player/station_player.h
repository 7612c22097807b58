#pragma once
// The station's player: what the station hands off goes on air in order, the
// schedule of the hour it is now when nothing was handed off, on the sound
// device the station chose; every play goes on record and every song played
// to its end is counted in the library. The pages steer it through control
// messages on its window; what it holds survives its end in player_state.txt.

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
#include "listener_count.h"
#include "onair_file.h"
#include "playback_engine.h"
#include "player_state.h"
#include "queued_song.h"
#include "song_facts.h"
#include "stream_status.h"

namespace zv::player {

// One message of the window, as its procedure received it.
struct WindowMessage {
  std::uint64_t dw_data = 0;
  std::string text;  // a song's path (COPYDATA_LIST_ITEM); a control message's data
};

class StationPlayer {
 public:
  // Runs in `server_folder`; `system_default` is the ALSA device used when the
  // station chose the system's default. Takes up what the player held when it
  // last ended.
  StationPlayer(const std::filesystem::path& server_folder, std::string system_default);
  ~StationPlayer();  // what plays is kept to go on with at the next start

  bool ready() const { return engine_.ready(); }
  // Where other programs reach the player's window, published for the pages.
  void set_window_address(std::string address) { window_ = std::move(address); }
  // From the window's procedure: kept for the next step, answered at once.
  void receive(WindowMessage message);
  // Does what is due: takes in the received songs and commands, follows
  // playback, keeps the engine supplied, publishes and saves the state.
  // Waits up to `timeout_s` for playback when there is nothing else to do.
  void step(double timeout_s);

 private:
  using Clock = std::chrono::steady_clock;
  struct Loaded {
    std::int64_t entry = 0;
    QueuedSong song;
  };

  void resume_saved();
  void take_messages();
  void control(const WindowMessage& message);
  void take_back();
  void put(const std::string& paths, bool next);
  void follow(const EngineEvent& event);
  void end_play(const std::string& outcome);
  void supply();
  void apply_device_choice();
  void watch_silence();
  void publish();
  void save();
  std::optional<QueuedSong> next_song();
  // The station's sound settings, read again before each song.
  SongCue sound_of(const QueuedSong& song);
  void report_stream(const EngineEvent& event);
  RecentPlays recent_songs(std::int64_t now) const;
  void open_fault(const std::string& kind, const std::string& text, std::int64_t started);
  void close_fault(const std::string& kind);
  void record_fault(const Fault& fault);

  std::filesystem::path folder_;
  std::string system_default_;
  std::string window_;
  PlaybackEngine engine_;
  LibraryWorker library_;
  SongFactsWorker song_facts_;
  ListenerCount listeners_;
  std::map<std::string, StreamState> streams_;

  std::mutex inbox_lock_;
  std::vector<WindowMessage> inbox_;

  std::deque<QueuedSong> queue_;      // sent, not yet given to the engine
  std::deque<QueuedSong> schedule_;   // the hour's songs, played when queue_ is empty
  std::deque<QueuedSong> fallback_;   // the last songs drawn, while the library does not answer
  int schedule_hour_ = -1;            // the hour schedule_ was drawn for
  bool schedule_asked_ = false;
  bool schedule_empty_said_ = false;  // said once until the schedule has songs again
  Clock::time_point schedule_asked_at_{};
  Clock::time_point schedule_retry_at_{};
  std::deque<Loaded> loaded_;         // given to the engine, the one on air first
  std::optional<NowPlaying> now_;
  std::string play_key_;              // the record's name for the play on air
  std::optional<std::int64_t> skipped_entry_;
  std::deque<PlayedSong> history_;
  std::deque<Fault> faults_;
  bool stopped_ = false;
  std::int64_t next_key_ = 1;
  std::string device_;
  Clock::time_point device_retry_at_{};
  Clock::time_point silent_since_ = Clock::now();
  Clock::time_point published_{};
  bool changed_ = true;
};

// Seconds since 1970, UTC.
std::int64_t unix_now();

}  // namespace zv::player
