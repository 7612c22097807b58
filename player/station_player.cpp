#include "station_player.h"

#include <algorithm>
#include <cstdio>

#include "playlist/player_handoff.h"
#include "schedule_fill.h"
#include "loudness_analysis.h"
#include "sound_settings.h"
#include "sound_device_choice.h"

namespace zv::player {

namespace {

// The engine holds the song on air and the next one, so it can go on without a gap.
constexpr std::size_t SONGS_AHEAD = 2;
// A state that did not change is published this often all the same, so the
// pages can tell that the player runs.
constexpr auto PUBLISH_INTERVAL = std::chrono::seconds(2);
constexpr std::int64_t DEVICE_RETRY_SECONDS = 5;
constexpr std::int64_t SCHEDULE_RETRY_SECONDS = 30;

}  // namespace

std::int64_t unix_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

StationPlayer::StationPlayer(const std::filesystem::path& server_folder, std::string system_default)
    : folder_(server_folder), system_default_(std::move(system_default)), library_(server_folder / PENDING_PLAYS_FILE) {
  sound_of({});  // the stream starts with the player, not with its first song
}

void StationPlayer::receive(WindowMessage message) {
  std::lock_guard hold(inbox_lock_);
  inbox_.push_back(std::move(message));
}

void StationPlayer::take_messages() {
  std::vector<WindowMessage> messages;
  {
    std::lock_guard hold(inbox_lock_);
    messages.swap(inbox_);
  }
  // Songs join the queue in the order they arrive, framed by a list or not;
  // the frame itself changes nothing.
  for (auto& message : messages) {
    if (message.dw_data != COPYDATA_LIST_ITEM || message.text.empty()) continue;
    std::printf("Queued: %s\n", message.text.c_str());
    queue_.push_back({std::nullopt, std::move(message.text), SongSource::handoff});
    changed_ = true;
  }
}

void StationPlayer::step(double timeout_s) {
  take_messages();
  supply();
  for (auto event = engine_.next_event(timeout_s); event; event = engine_.next_event(0)) follow(*event);
  take_messages();
  supply();
  publish();
}

void StationPlayer::follow(const EngineEvent& event) {
  if (event.kind == EngineEvent::Kind::stream_up || event.kind == EngineEvent::Kind::stream_down) {
    report_stream(event);
    return;
  }
  if (event.kind == EngineEvent::Kind::none || loaded_.empty() || loaded_.front().entry != event.entry) {
    // The song on air is always the first one given to the engine; anything
    // else is left over from songs taken back.
    return;
  }
  const std::int64_t now = unix_now();
  switch (event.kind) {
    case EngineEvent::Kind::started:
      apply_device_choice();
      std::printf("On air: %s\n", loaded_.front().song.path.c_str());
      now_ = NowPlaying{loaded_.front().song, now, 0, std::nullopt};
      break;
    case EngineEvent::Kind::finished:
      library_.count({loaded_.front().song.id, loaded_.front().song.path, now});
      history_.push_front({loaded_.front().song, now});
      if (history_.size() > HISTORY_LENGTH) history_.pop_back();
      now_.reset();
      loaded_.pop_front();
      break;
    case EngineEvent::Kind::failed:
      std::printf("Skipped %s: %s\n", loaded_.front().song.path.c_str(), event.error.c_str());
      now_.reset();
      loaded_.pop_front();
      break;
    case EngineEvent::Kind::device_failed:
      std::printf("Sound device %s failed (%s); trying again in %d s\n", device_.c_str(), event.error.c_str(),
                  static_cast<int>(DEVICE_RETRY_SECONDS));
      // Nothing is lost: the songs go back to the head of the queue.
      for (auto song = loaded_.rbegin(); song != loaded_.rend(); ++song) queue_.push_front(std::move(song->song));
      loaded_.clear();
      now_.reset();
      engine_.clear();
      device_.clear();  // opened again with the next song
      device_retry_at_ = now + DEVICE_RETRY_SECONDS;
      break;
    case EngineEvent::Kind::none:
    case EngineEvent::Kind::stream_up:
    case EngineEvent::Kind::stream_down:
      return;
  }
  changed_ = true;
}

void StationPlayer::apply_device_choice() {
  const std::string chosen = chosen_sound_device(folder_ / SOUND_DEVICE_FILE, system_default_);
  if (chosen == device_) return;
  device_ = chosen;
  engine_.use_device(device_);
  std::printf("Sound device: %s\n", device_.c_str());
}

RecentPlays StationPlayer::recent_songs(std::int64_t now) const {
  RecentPlays recent;
  for (const auto& played : history_) {
    if (!played.song.id) continue;
    auto& last = recent[*played.song.id];
    last = std::max(last, played.played);
  }
  for (const auto& song : loaded_) {
    if (song.song.id) recent[*song.song.id] = now;
  }
  return recent;
}

std::optional<QueuedSong> StationPlayer::next_song() {
  const std::int64_t now = unix_now();
  if (auto songs = library_.take_songs()) {
    schedule_asked_ = false;
    if (songs->empty()) {
      std::printf("Coming hour: no songs in the schedule; trying again in %d s\n",
                  static_cast<int>(SCHEDULE_RETRY_SECONDS));
      schedule_retry_at_ = now + SCHEDULE_RETRY_SECONDS;
    } else {
      std::printf("Coming hour: %zu songs from the schedule\n", songs->size());
      schedule_.assign(songs->begin(), songs->end());
      schedule_built_ = now;
    }
  }
  // The schedule's songs are for the hour they were drawn for.
  if (now - schedule_built_ >= RECENT_SECONDS) schedule_.clear();
  // Asked for while the last handed-off song still plays, so they are there in time.
  if (queue_.empty() && schedule_.empty() && !schedule_asked_ && now >= schedule_retry_at_) {
    library_.request_songs(recent_songs(now), now);
    schedule_asked_ = true;
  }
  auto& from = queue_.empty() ? schedule_ : queue_;
  if (from.empty()) return std::nullopt;
  QueuedSong song = std::move(from.front());
  from.pop_front();
  return song;
}

void StationPlayer::supply() {
  if (unix_now() < device_retry_at_) return;
  while (loaded_.size() < SONGS_AHEAD) {
    auto song = next_song();
    if (!song) return;
    changed_ = true;
    std::error_code failed;
    if (!std::filesystem::is_regular_file(song->path, failed)) {
      std::printf("Skipped %s: the file is missing\n", song->path.c_str());
      continue;
    }
    // A song that starts with nothing on air takes the device chosen now.
    if (loaded_.empty()) apply_device_choice();
    const auto entry = engine_.append(song->path, sound_of(*song));
    if (!entry) {
      std::printf("Skipped %s: the player cannot take it\n", song->path.c_str());
      continue;
    }
    loaded_.push_back({*entry, std::move(*song)});
  }
}

// --- The station's sound: settings, the song's own gain and cues, the stream.

SongCue StationPlayer::sound_of(const QueuedSong& song) {
  const SoundSettings settings = read_sound_settings(folder_);
  engine_.set_crossfade(settings.crossfade_s);
  engine_.set_streams(settings.streams());
  SongCue cue;
  cue.title = song_file_name(song.path);
  if (const auto dot = cue.title.rfind('.'); dot != std::string::npos && dot > 0) cue.title.resize(dot);
  if (const auto facts = song_facts_.facts(song.path)) {
    cue.fades = facts->fades;
    // Measured songs play at the station's loudness; the others as they are.
    if (facts->fade_out_ms > 0) {
      cue.gain_db = facts->replay_gain + settings.target_lufs - REFERENCE_LUFS;
      cue.cue_in_s = facts->fade_in_ms / 1000.0;
      cue.cue_out_s = facts->fade_out_ms / 1000.0;
    }
  } else {
    song_facts_.refresh();  // a song imported since the library was read
  }
  return cue;
}

void StationPlayer::report_stream(const EngineEvent& event) {
  StreamState& state = streams_[event.stream];
  state.up = event.kind == EngineEvent::Kind::stream_up;
  state.since = unix_now();
  state.error = event.error;
  if (state.up) {
    std::printf("Stream on air: %s\n", event.stream.c_str());
  } else {
    std::printf("Stream %s is down (%s); trying again every 5 s\n", event.stream.c_str(), event.error.c_str());
  }
  write_stream_status(folder_ / STREAM_STATUS_FILE, streams_);
}

void StationPlayer::publish() {
  const auto time = std::chrono::steady_clock::now();
  if (!changed_ && time - published_ < PUBLISH_INTERVAL) return;
  OnAir state;
  state.updated = unix_now();
  state.device = device_.empty() ? chosen_sound_device(folder_ / SOUND_DEVICE_FILE, system_default_) : device_;
  if (now_) {
    state.now = now_;
    state.now->position = engine_.position();
    state.now->length = engine_.length();
  }
  for (std::size_t i = 1; i < loaded_.size(); ++i) state.queue.push_back(loaded_[i].song);
  state.queue.insert(state.queue.end(), queue_.begin(), queue_.end());
  if (queue_.empty()) state.queue.insert(state.queue.end(), schedule_.begin(), schedule_.end());
  state.history = history_;
  if (!write_onair_file(folder_ / ONAIR_FILE, state)) {
    std::printf("The state could not be written to %s\n", (folder_ / ONAIR_FILE).string().c_str());
  }
  published_ = time;
  changed_ = false;
}

}  // namespace zv::player
