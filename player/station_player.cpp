#include "station_player.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/local_time.h"
#include "playlist/schedule.h"
#include "player_control.h"
#include "player_window/protocol.h"
#include "schedule_fill.h"
#include "loudness_analysis.h"
#include "song_tags.h"
#include "sound_settings.h"
#include "sound_device_choice.h"

namespace zv::player {

namespace {

// The engine holds the song on air and the next one, so it can go on without a gap.
constexpr std::size_t SONGS_AHEAD = 2;
// A state that did not change is published (and saved, with the position of
// the song on air) this often all the same, so the pages can tell that the
// player runs and a restart loses at most this much of a song.
constexpr auto PUBLISH_INTERVAL = std::chrono::seconds(2);
constexpr auto DEVICE_RETRY = std::chrono::seconds(5);
constexpr int SCHEDULE_RETRY_SECONDS = 5;
// A library that has not answered for the hour's songs this long (locked by
// another program, or gone) is not waited for: the last songs drawn play.
constexpr auto FALLBACK_AFTER = std::chrono::seconds(3);
// Nothing on air this long while there are songs to play is a fault.
constexpr auto SILENT_FAULT_AFTER = std::chrono::seconds(10);
// A player that was last heard of longer ago than this was not running.
constexpr std::int64_t NOT_RUNNING_AFTER_SECONDS = 5;
constexpr std::size_t FAULTS_KEPT = 20;

int hour_now() { return current_hour(get_local_time()).hour; }

QueuedSong sent_song(std::string path, std::int64_t key) {
  QueuedSong song;
  song.path = std::move(path);
  song.key = key;
  return song;
}

}  // namespace

std::int64_t unix_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

StationPlayer::StationPlayer(const std::filesystem::path& server_folder, std::string system_default)
    : folder_(server_folder), system_default_(std::move(system_default)), library_(server_folder / PENDING_PLAYS_FILE) {
  sound_of({});  // the stream starts with the player, not with its first song
  resume_saved();
}

StationPlayer::~StationPlayer() { save(); }

// The song that was on air goes on from where it was last saved (at most
// 2 s before the end), before the songs that waited: the same play, on
// record and counted once it ends.
void StationPlayer::resume_saved() {
  auto saved = load_player_state(folder_ / PLAYER_STATE_FILE);
  if (!saved) return;
  const std::int64_t now = unix_now();
  stopped_ = saved->stopped;
  next_key_ = std::max<std::int64_t>(saved->next_key, 1);
  queue_ = std::move(saved->queue);
  schedule_ = std::move(saved->schedule);
  if (!schedule_.empty()) schedule_hour_ = hour_now();
  if (saved->now) {
    const SongOnAir& cut = *saved->now;
    QueuedSong again = cut.song;
    again.start_at = cut.position;
    again.play_key = cut.play_key;
    again.play_started = cut.started;
    std::printf("Going on with %s from %.1f s\n", again.path.c_str(), again.start_at);
    queue_.push_front(std::move(again));
  }
  if (saved->alive > 0 && now - saved->alive > NOT_RUNNING_AFTER_SECONDS) {
    open_fault("not_running", "The player was not running for " + std::to_string(now - saved->alive) + " s",
               saved->alive);
    close_fault("not_running");
  }
  std::printf("Station player: %zu songs waiting from before%s\n", queue_.size(), stopped_ ? "; stopped by the operator" : "");
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
    if (is_control_message(message.dw_data)) {
      control(message);
      changed_ = true;
      continue;
    }
    if (message.dw_data != COPYDATA_LIST_ITEM || message.text.empty()) continue;
    // Sent songs go on air before any scheduled song not yet on air.
    if (std::any_of(loaded_.begin() + std::min<std::size_t>(1, loaded_.size()), loaded_.end(),
                    [](const Loaded& song) { return song.song.source == SongSource::schedule; }))
      take_back();
    std::printf("Queued: %s\n", message.text.c_str());
    queue_.push_back(sent_song(std::move(message.text), next_key_++));
    changed_ = true;
  }
}

// The songs given to the engine but not yet on air go back to the head of
// their lists, so the lists can change.
void StationPlayer::take_back() {
  while (loaded_.size() > 1) {
    Loaded& song = loaded_.back();
    engine_.remove(song.entry);
    (song.song.source == SongSource::schedule && queue_.empty() ? schedule_ : queue_).push_front(std::move(song.song));
    loaded_.pop_back();
  }
}

void StationPlayer::put(const std::string& paths, bool next) {
  take_back();
  std::deque<QueuedSong> songs;
  std::istringstream lines(paths);
  for (std::string path; std::getline(lines, path);) {
    if (path.empty()) continue;
    std::printf("Queued: %s\n", path.c_str());
    songs.push_back(sent_song(path, next_key_++));
  }
  queue_.insert(next ? queue_.begin() : queue_.end(), songs.begin(), songs.end());
}

void StationPlayer::control(const WindowMessage& message) {
  switch (message.dw_data) {
    case CONTROL_SKIP:
      if (now_ && !loaded_.empty() && !skipped_entry_) {
        std::printf("Skip: %s\n", loaded_.front().song.path.c_str());
        skipped_entry_ = loaded_.front().entry;
        engine_.skip();
      }
      return;
    case CONTROL_STOP:
      if (stopped_) return;
      std::printf("Stopped by the operator\n");
      stopped_ = true;
      take_back();
      if (!loaded_.empty()) {
        // The stopped play is on record; resumed, the song is a play of its own.
        QueuedSong cut = loaded_.front().song;
        cut.start_at = now_ ? engine_.position() : cut.start_at;
        cut.play_key.clear();
        cut.play_started = 0;
        if (now_) end_play(OUTCOME_STOPPED);
        loaded_.clear();
        engine_.clear();
        queue_.push_front(std::move(cut));
      }
      return;
    case CONTROL_RESUME:
      if (stopped_) std::printf("Resumed by the operator\n");
      stopped_ = false;
      silent_since_ = Clock::now();
      return;
    case CONTROL_PUT_NEXT:
    case CONTROL_PUT_END:
      put(message.text, message.dw_data == CONTROL_PUT_NEXT);
      return;
    case CONTROL_FAULT_SEEN:
      for (Fault& fault : faults_) fault.seen = fault.seen || fault.key == message.text;
      std::erase_if(faults_, [](const Fault& fault) { return fault.seen && fault.ended != 0; });
      return;
    default:
      break;
  }
  // The rest name a waiting song by its key, among the sent songs and then the scheduled ones.
  std::int64_t key = 0;
  try {
    key = std::stoll(message.text);
  } catch (...) {
    return;
  }
  take_back();
  std::vector<QueuedSong> all(queue_.begin(), queue_.end());
  all.insert(all.end(), schedule_.begin(), schedule_.end());
  std::size_t sent = queue_.size();
  const auto found = std::find_if(all.begin(), all.end(), [key](const QueuedSong& song) { return song.key == key; });
  if (found == all.end()) return;
  std::size_t at = static_cast<std::size_t>(found - all.begin());
  std::printf("%s: %s\n",
              message.dw_data == CONTROL_REMOVE ? "Removed" : message.dw_data == CONTROL_MOVE_NEXT ? "Next" : "Moved",
              found->path.c_str());
  if (message.dw_data == CONTROL_REMOVE) {
    all.erase(found);
    if (at < sent) --sent;
  } else {
    if (message.dw_data == CONTROL_MOVE_UP && at > 0) {
      std::swap(all[at], all[at - 1]);
      --at;
    } else if (message.dw_data == CONTROL_MOVE_DOWN && at + 1 < all.size()) {
      std::swap(all[at], all[at + 1]);
      ++at;
    } else if (message.dw_data == CONTROL_MOVE_NEXT) {
      std::rotate(all.begin(), found, found + 1);
      at = 0;
    }
    // A scheduled song the operator moved waits among the sent ones.
    sent = std::max(sent, at + 1);
  }
  queue_.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(sent));
  schedule_.assign(all.begin() + static_cast<std::ptrdiff_t>(sent), all.end());
}

void StationPlayer::step(double timeout_s) {
  take_messages();
  supply();
  for (auto event = engine_.next_event(timeout_s); event; event = engine_.next_event(0)) follow(*event);
  take_messages();
  supply();
  watch_silence();
  publish();
}

// The play on air ends: on record with its outcome, counted when played out.
void StationPlayer::end_play(const std::string& outcome) {
  if (!now_ || loaded_.empty()) return;
  const std::int64_t now = unix_now();
  const QueuedSong& song = loaded_.front().song;
  Play play{song.id, song.path, now, play_key_, now_->started, record_source(song.source), outcome};
  play.audience = listeners_.audience(static_cast<double>(now_->started), static_cast<double>(now));
  listeners_.read_now();  // the next song's listeners at its start
  library_.count(std::move(play));
  history_.push_front({song, now});
  if (history_.size() > HISTORY_LENGTH) history_.pop_back();
  now_.reset();
  play_key_.clear();
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
    {
      const QueuedSong& song = loaded_.front().song;
      now_ = NowPlaying{song, song.play_started ? song.play_started : now, 0, std::nullopt};
      play_key_ = !song.play_key.empty() ? song.play_key : "p" + std::to_string(next_key_++) + "-" + std::to_string(now);
      listeners_.read_now();
      break;
    }
    case EngineEvent::Kind::finished:
      if (now_) close_fault("device");  // the device took the song to its end or the skip
      end_play(skipped_entry_ == event.entry ? OUTCOME_SKIPPED : OUTCOME_PLAYED);
      if (skipped_entry_ == event.entry) skipped_entry_.reset();
      loaded_.pop_front();
      break;
    case EngineEvent::Kind::failed: {
      const std::string path = loaded_.front().song.path;
      std::printf("Skipped %s: %s\n", path.c_str(), event.error.c_str());
      if (!now_) now_ = NowPlaying{loaded_.front().song, now, 0, std::nullopt};
      if (play_key_.empty()) {
        play_key_ = !loaded_.front().song.play_key.empty() ? loaded_.front().song.play_key
                                                          : "p" + std::to_string(next_key_++) + "-" + std::to_string(now);
      }
      end_play(OUTCOME_FAILED);
      open_fault("skipped", "Skipped " + path + ": " + event.error, now);
      close_fault("skipped");
      loaded_.pop_front();
      break;
    }
    case EngineEvent::Kind::device_failed:
      std::printf("Sound device %s failed (%s); trying again in %d s\n", device_.c_str(), event.error.c_str(),
                  static_cast<int>(DEVICE_RETRY.count()));
      open_fault("device", "The sound device " + device_ + " fails (" + event.error + ")", now);
      // A play the device cut after it had begun is on record; the song goes on air again.
      if (now_ && now - now_->started >= 1) {
        end_play(OUTCOME_FAILED);
      } else {
        now_.reset();
        play_key_.clear();
      }
      // Nothing is lost: the songs go back to the head of the queue.
      for (auto song = loaded_.rbegin(); song != loaded_.rend(); ++song) queue_.push_front(std::move(song->song));
      loaded_.clear();
      skipped_entry_.reset();
      engine_.clear();
      device_.clear();  // opened again with the next song
      device_retry_at_ = Clock::now() + DEVICE_RETRY;
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
  const auto time = Clock::now();
  const int hour = hour_now();
  bool answered_empty = false;
  if (auto songs = library_.take_songs()) {
    schedule_asked_ = false;
    if (songs->empty()) {
      if (!schedule_empty_said_) {
        std::printf("This hour: no songs in the schedule; trying again in %d s\n", SCHEDULE_RETRY_SECONDS);
      }
      schedule_empty_said_ = true;
      schedule_retry_at_ = time + std::chrono::seconds(SCHEDULE_RETRY_SECONDS);
      answered_empty = true;
    } else {
      std::printf("This hour: %zu songs from the schedule\n", songs->size());
      schedule_empty_said_ = false;
      schedule_.clear();
      for (auto& song : *songs) {
        song.key = next_key_++;
        schedule_.push_back(song);
      }
      fallback_ = schedule_;
      schedule_hour_ = hour;
    }
  }
  // The schedule's songs are for the hour they were drawn for.
  if (hour != schedule_hour_) schedule_.clear();
  // Asked for while the last sent song still plays, so they are there in time.
  if (queue_.empty() && schedule_.empty() && !schedule_asked_ && time >= schedule_retry_at_) {
    library_.request_songs(recent_songs(now), now, current_hour(get_local_time()));
    schedule_asked_ = true;
    schedule_asked_at_ = time;
  }
  auto& from = !queue_.empty() ? queue_ : schedule_;
  if (!from.empty()) {
    QueuedSong song = std::move(from.front());
    from.pop_front();
    return song;
  }
  // A library that is locked or gone does not silence the station while it
  // has songs it drew before.
  const bool library_fails = answered_empty || (schedule_asked_ && time - schedule_asked_at_ >= FALLBACK_AFTER);
  if (!library_fails || fallback_.empty() || !loaded_.empty()) return std::nullopt;
  QueuedSong song = fallback_.front();
  fallback_.pop_front();
  fallback_.push_back(song);
  song.key = next_key_++;
  std::printf("The library does not answer: %s again from the songs drawn before\n", song.path.c_str());
  return song;
}

void StationPlayer::supply() {
  if (stopped_ || Clock::now() < device_retry_at_) return;
  // A new hour: its own entry's songs come next, not the last hour's.
  if (schedule_hour_ >= 0 && hour_now() != schedule_hour_ &&
      std::any_of(loaded_.begin() + std::min<std::size_t>(1, loaded_.size()), loaded_.end(),
                  [](const Loaded& song) { return song.song.source == SongSource::schedule; }))
    take_back();
  while (loaded_.size() < SONGS_AHEAD) {
    auto song = next_song();
    if (!song) return;
    changed_ = true;
    std::error_code failed;
    if (!std::filesystem::is_regular_file(song->path, failed)) {
      std::printf("Skipped %s: the file is missing\n", song->path.c_str());
      const std::int64_t now = unix_now();
      library_.count({song->id, song->path, now, "p" + std::to_string(next_key_++) + "-" + std::to_string(now), now,
                      record_source(song->source), OUTCOME_FAILED});
      open_fault("skipped", "Skipped " + song->path + ": the file is missing", now);
      close_fault("skipped");
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

void StationPlayer::watch_silence() {
  const auto time = Clock::now();
  const bool should_play = !stopped_ && (!loaded_.empty() || !queue_.empty() || !schedule_.empty());
  if (now_ || !should_play) {
    silent_since_ = time;
    close_fault("silent");
    return;
  }
  if (time - silent_since_ > SILENT_FAULT_AFTER) {
    open_fault("silent", "The station is silent though it should be playing", unix_now() - 10);
  }
}

void StationPlayer::open_fault(const std::string& kind, const std::string& text, std::int64_t started) {
  if (kind != "skipped" &&
      std::any_of(faults_.begin(), faults_.end(), [&](const Fault& f) { return f.kind == kind && f.ended == 0; }))
    return;
  std::printf("Fault: %s\n", text.c_str());
  faults_.push_back({"f" + std::to_string(next_key_++) + "-" + std::to_string(started), kind, text, started});
  if (faults_.size() > FAULTS_KEPT) faults_.pop_front();
  record_fault(faults_.back());
  changed_ = true;
}

void StationPlayer::close_fault(const std::string& kind) {
  for (Fault& fault : faults_) {
    if (fault.kind != kind || fault.ended != 0) continue;
    fault.ended = std::max(unix_now(), fault.started);
    if (kind != "skipped" && kind != "not_running") std::printf("Fault passed: %s\n", fault.text.c_str());
    record_fault(fault);
    changed_ = true;
  }
  std::erase_if(faults_, [](const Fault& fault) { return fault.seen && fault.ended != 0; });
}

void StationPlayer::record_fault(const Fault& fault) {
  library_.count({std::nullopt, fault.text, fault.ended, fault.key, fault.started, fault.kind, "", true});
}

void StationPlayer::save() {
  SavedState state;
  state.alive = unix_now();
  state.stopped = stopped_;
  state.next_key = next_key_;
  if (now_ && !loaded_.empty()) state.now = SongOnAir{loaded_.front().song, play_key_, now_->started, engine_.position()};
  // What the engine holds beyond the song on air waits again at the head.
  for (std::size_t i = 1; i < loaded_.size(); ++i) state.queue.push_back(loaded_[i].song);
  if (!now_ && !loaded_.empty()) state.queue.push_front(loaded_.front().song);
  state.queue.insert(state.queue.end(), queue_.begin(), queue_.end());
  state.schedule = schedule_;
  if (!save_player_state(folder_ / PLAYER_STATE_FILE, state)) {
    std::printf("The state could not be saved in %s\n", (folder_ / PLAYER_STATE_FILE).string().c_str());
  }
}

// --- The station's sound: settings, the song's own gain and cues, the stream.

SongCue StationPlayer::sound_of(const QueuedSong& song) {
  const SoundSettings settings = read_sound_settings(folder_);
  engine_.set_crossfade(settings.crossfade_s);
  engine_.set_streams(settings.streams());
  listeners_.watch(settings.streams());
  SongCue cue;
  cue.start_at_s = song.start_at;  // a song cut by a stop or the player's end goes on where it was
  cue.title = song_file_name(song.path);
  if (const auto dot = cue.title.rfind('.'); dot != std::string::npos && dot > 0) cue.title.resize(dot);
  if (const auto facts = song_facts_.facts(song.path)) {
    cue.title = stream_title(facts->artist, facts->title, cue.title);
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
    if (std::all_of(streams_.begin(), streams_.end(), [](const auto& stream) { return stream.second.up; })) {
      close_fault("stream");
    }
  } else {
    std::printf("Stream %s is down (%s); trying again every 5 s\n", event.stream.c_str(), event.error.c_str());
    // The listeners hear nothing: a fault on every page and on record, as a failing sound card is.
    open_fault("stream", "The stream " + event.stream + " is down (" + event.error + ")", state.since);
  }
  write_stream_status(folder_ / STREAM_STATUS_FILE, streams_);
}

void StationPlayer::publish() {
  const auto time = Clock::now();
  if (!changed_ && time - published_ < PUBLISH_INTERVAL) return;
  save();
  OnAir state;
  state.updated = unix_now();
  state.device = device_.empty() ? chosen_sound_device(folder_ / SOUND_DEVICE_FILE, system_default_) : device_;
  state.window = window_;
  state.stopped = stopped_;
  state.faults = faults_;
  if (now_) {
    state.now = now_;
    state.now->position = engine_.position();
    state.now->length = engine_.length();
  }
  for (std::size_t i = 1; i < loaded_.size(); ++i) state.queue.push_back(loaded_[i].song);
  state.queue.insert(state.queue.end(), queue_.begin(), queue_.end());
  state.queue.insert(state.queue.end(), schedule_.begin(), schedule_.end());
  state.history = history_;
  if (!write_onair_file(folder_ / ONAIR_FILE, state)) {
    std::printf("The state could not be written to %s\n", (folder_ / ONAIR_FILE).string().c_str());
  }
  published_ = time;
  changed_ = false;
}

}  // namespace zv::player
