#pragma once
// The station's player: what the station hands off goes on air in order, the
// schedule of the hour it is now when nothing was handed off, on the sound
// device the station chose; every play goes on record and every song played
// to its end is counted in the library. The pages steer it through control
// messages on its window; what it holds survives its end in player_state.txt.
// docs/player.md tells its threads and who owns what.

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "fault_log.h"
#include "library_worker.h"
#include "listener_count.h"
#include "onair_file.h"
#include "play_queue.h"
#include "playback.h"
#include "queued_song.h"
#include "song_facts.h"
#include "sound_settings.h"
#include "stream_status.h"

namespace zv::player {

// One message of the window, as its procedure received it.
struct WindowMessage {
  std::uint64_t dw_data = 0;
  std::string text;  // a song's path (COPYDATA_LIST_ITEM); a control message's data
};

class StationPlayer {
 public:
  // Runs in `server_folder` on `engine`, which outlives it; `system_default`
  // is the ALSA device used when the station chose the system's default.
  // Takes up what the player held when it last ended.
  StationPlayer(const std::filesystem::path& server_folder, std::string system_default, Playback& engine);
  ~StationPlayer();  // what plays is kept to go on with at the next start

  bool ready() const { return engine_.ready(); }
  // Where other programs reach the player's window, published for the pages.
  void set_window_address(std::string address) { window_ = std::move(address); }
  // From the window's procedure: done at once, and what it added to the
  // queue is on the disk before it returns (and the sender hears "taken").
  void receive(const WindowMessage& message);
  // Does what is due: follows playback, keeps the engine supplied, publishes
  // and saves the state. Waits up to `timeout_s` for playback when there is
  // nothing else to do.
  void step(double timeout_s);

 private:
  using Clock = std::chrono::steady_clock;
  struct Loaded {
    std::int64_t entry = 0;
    QueuedSong song;
  };

  void resume_saved();
  void control(const WindowMessage& message);
  void stop();
  void take_back();
  void skip_waiting();
  void follow(const EngineEvent& event);
  void begin_play(std::int64_t now);
  void end_play(const std::string& outcome);
  void supply();
  bool skip_missing(const QueuedSong& song);
  void apply_device_choice();
  void follow_settings();
  void watch_silence();
  void publish();
  void save();
  std::optional<QueuedSong> next_song();
  // The song's sound: the station's settings with the song's own facts.
  SongCue sound_of(const QueuedSong& song, const SongFacts& facts) const;
  void report_stream(const EngineEvent& event);
  RecentPlays recent_songs(std::int64_t now) const;
  std::string play_key(std::int64_t now) { return "p" + std::to_string(queue_.new_key()) + "-" + std::to_string(now); }

  std::filesystem::path folder_;
  std::string system_default_;
  std::string window_;
  Playback& engine_;
  LibraryWorker library_;
  SongFactsWorker song_facts_;
  ListenerCount listeners_;
  std::map<std::string, StreamState> streams_;
  SoundSettings settings_;
  std::optional<FileStamp> settings_stamp_;  // of the settings last read

  PlayQueue queue_;
  FaultLog faults_;
  bool schedule_asked_ = false;
  bool schedule_empty_said_ = false;  // said once until the schedule has songs again
  Clock::time_point schedule_asked_at_{};
  Clock::time_point schedule_retry_at_{};
  Clock::time_point fallback_retry_at_{};
  std::set<std::string> missing_;    // scheduled songs found missing, one fault each
  std::deque<Loaded> loaded_;        // given to the engine, the one on air first
  std::optional<SongOnAir> on_air_;  // the play of loaded_.front(), once it began
  std::optional<std::int64_t> skipped_entry_;
  std::deque<PlayedSong> history_;
  bool stopped_ = false;
  std::string device_;
  Clock::time_point silent_since_ = Clock::now();
  Clock::time_point published_{};
  bool changed_ = true;
};

// Seconds since 1970, UTC.
std::int64_t unix_now();

}  // namespace zv::player
