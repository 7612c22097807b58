#include "station_player.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "loudness_analysis.h"
#include "platform/local_time.h"
#include "platform/time_limits.h"
#include "player_control.h"
#include "player_state.h"
#include "player_window/protocol.h"
#include "schedule_fill.h"
#include "song_tags.h"
#include "sound_device_choice.h"

namespace zv::player {

namespace {

// The engine holds the song on air and the next one, so it can go on without a gap.
constexpr std::size_t SONGS_AHEAD = 2;
// The waiting songs measured ahead while the song on air plays.
constexpr std::size_t MEASURED_AHEAD = 3;
// A state that did not change is published (and saved, with the position of
// the song on air) this often all the same, so the pages can tell that the
// player runs and a restart loses at most this much of a song.
// These pauses are taken as time_limit() gives them, so tests need not wait them out.
constexpr auto PUBLISH_INTERVAL = std::chrono::seconds(2);
constexpr auto DEVICE_RETRY = std::chrono::seconds(5);
constexpr auto SCHEDULE_RETRY = std::chrono::seconds(5);
// A library that has not answered for the hour's songs this long (locked by
// another program, or gone) is not waited for: the last songs drawn play.
constexpr auto FALLBACK_AFTER = std::chrono::seconds(3);
// Nothing on air this long while there are songs to play is a fault.
constexpr auto SILENT_FAULT_AFTER = std::chrono::seconds(10);
// A player that was last heard of longer ago than this was not running.
constexpr std::int64_t NOT_RUNNING_AFTER_SECONDS = 5;

int hour_now() { return current_hour(get_local_time()).hour; }

bool has_scheduled(const auto& loaded) {
  return std::any_of(loaded.begin() + std::min<std::size_t>(1, loaded.size()), loaded.end(),
                     [](const auto& song) { return song.song.source == SongSource::schedule; });
}

}  // namespace

std::int64_t unix_now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

StationPlayer::StationPlayer(const std::filesystem::path& server_folder, std::string system_default, Playback& engine)
    : folder_(server_folder),
      system_default_(std::move(system_default)),
      engine_(engine),
      library_(server_folder / PENDING_PLAYS_FILE),
      faults_(
          [this](const Fault& fault) {
            library_.record(
                FaultRecord{fault.key, fault_kind_name(fault.kind), fault.text, fault.started, fault.ended});
            changed_ = true;
          },
          [this] { return queue_.new_key(); }) {
  follow_settings();  // the stream and the card start with the player, not with its first song
  apply_device_choice();
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
  queue_.restore(std::move(saved->queue), std::move(saved->schedule), saved->schedule_hour, saved->next_key);
  if (queue_.schedule_hour() != hour_now()) queue_.drop_schedule();
  faults_.restore(std::move(saved->faults));
  if (saved->now) {
    const SongOnAir& cut = *saved->now;
    QueuedSong again = cut.song;
    again.start_at = cut.position;
    again.play_key = cut.play_key;
    again.play_started = cut.started;
    std::printf("Going on with %s from %.1f s\n", again.path.c_str(), again.start_at);
    queue_.give_back(std::move(again));
  }
  if (saved->alive > 0 && now - saved->alive > NOT_RUNNING_AFTER_SECONDS) {
    faults_.open(FaultKind::not_running, "The player was not running for " + std::to_string(now - saved->alive) + " s",
                 saved->alive, now);
    faults_.pass(FaultKind::not_running, now);
  }
  std::printf("Station player: %zu songs waiting from before%s\n", queue_.sent().size(),
              stopped_ ? "; stopped by the operator" : "");
}

void StationPlayer::receive(const WindowMessage& message) {
  if (is_control_message(message.dw_data)) {
    control(message);
  } else if (message.dw_data == COPYDATA_LIST_ITEM && !message.text.empty()) {
    // Songs join the queue in the order they arrive, framed by a list or not;
    // the frame itself changes nothing. Sent songs go on air before any
    // scheduled song not yet on air.
    if (!acceptable_path(message.text)) {
      std::printf("Refused: a song's path with a line break\n");
      return;
    }
    if (has_scheduled(loaded_)) take_back();
    queue_.add_sent(message.text);
    std::printf("Queued: %s\n", message.text.c_str());
    changed_ = true;
  } else {
    return;
  }
  // The sender hears "taken" only once what it changed is on the disk.
  save();
}

// The songs given to the engine but not yet on air go back to the head of
// their lists, so the lists can change. The first is kept while it is on air
// or about to be; while the device fails and nothing is heard it waits like
// the others, and the operator may remove or move it.
void StationPlayer::take_back() {
  const std::size_t kept = on_air_ || !engine_.device_failing() ? 1 : 0;
  while (loaded_.size() > kept) {
    Loaded& song = loaded_.back();
    engine_.remove(song.entry);
    queue_.give_back(std::move(song.song));
    loaded_.pop_back();
  }
}

void StationPlayer::stop() {
  if (stopped_) return;
  std::printf("Stopped by the operator\n");
  stopped_ = true;
  take_back();
  if (loaded_.empty()) return;
  // The stopped play is on record; resumed, the song is a play of its own.
  QueuedSong cut = loaded_.front().song;
  cut.start_at = on_air_ ? engine_.position() : cut.start_at;
  cut.play_key.clear();
  cut.play_started = 0;
  if (on_air_) end_play(OUTCOME_STOPPED);
  loaded_.clear();
  engine_.clear();
  queue_.give_back(std::move(cut));
}

// Nothing is heard while the device fails, so Skip passes over the song that
// waits first: it never went on air, so it is not on record; the next waits.
void StationPlayer::skip_waiting() {
  take_back();
  std::optional<QueuedSong> song = queue_.take_next();
  if (!song) return;
  std::printf("Skip: %s, which waits for the sound device\n", song->path.c_str());
}

void StationPlayer::control(const WindowMessage& message) {
  changed_ = true;
  switch (message.dw_data) {
    case CONTROL_SKIP:
      if (on_air_ && !loaded_.empty() && !skipped_entry_) {
        std::printf("Skip: %s\n", loaded_.front().song.path.c_str());
        skipped_entry_ = loaded_.front().entry;
        engine_.skip();
      } else if (!on_air_ && engine_.device_failing()) {
        skip_waiting();
      }
      return;
    case CONTROL_STOP:
      stop();
      return;
    case CONTROL_RESUME:
      if (stopped_) std::printf("Resumed by the operator\n");
      stopped_ = false;
      silent_since_ = Clock::now();
      return;
    case CONTROL_PUT_NEXT:
    case CONTROL_PUT_END: {
      const std::vector<std::string> paths = message_paths(message.text);
      take_back();
      if (!queue_.put(paths, message.dw_data == CONTROL_PUT_NEXT)) {
        std::printf("Refused: a song's path with a line break\n");
        return;
      }
      for (const std::string& path : paths) std::printf("Queued: %s\n", path.c_str());
      return;
    }
    case CONTROL_FAULT_SEEN:
      faults_.seen(message.text);
      return;
    default:
      break;
  }
  // The rest name a waiting song by its key, among the sent songs and then the scheduled ones.
  const auto key = parse_key(message.text);
  if (!key) {
    std::printf("Refused: \"%s\" is no song's key\n", message.text.c_str());
    return;
  }
  const KeyAction action = message.dw_data == CONTROL_REMOVE      ? KeyAction::remove
                           : message.dw_data == CONTROL_MOVE_UP   ? KeyAction::move_up
                           : message.dw_data == CONTROL_MOVE_DOWN ? KeyAction::move_down
                                                                  : KeyAction::move_next;
  take_back();
  if (const auto song = queue_.act(*key, action)) {
    std::printf("%s: %s\n",
                action == KeyAction::remove      ? "Removed"
                : action == KeyAction::move_next ? "Next"
                                                 : "Moved",
                song->path.c_str());
  }
}

void StationPlayer::step(double timeout_s) {
  follow_settings();
  supply();
  for (auto event = engine_.next_event(timeout_s); event; event = engine_.next_event(0)) follow(*event);
  supply();
  watch_silence();
  publish();
}

void StationPlayer::begin_play(std::int64_t now) {
  const QueuedSong& song = loaded_.front().song;
  on_air_ = SongOnAir{song, !song.play_key.empty() ? song.play_key : play_key(now),
                      song.play_started ? song.play_started : now, 0, std::nullopt};
}

// The play on air ends: on record with its outcome, counted when played out.
void StationPlayer::end_play(const std::string& outcome) {
  if (!on_air_ || loaded_.empty()) return;
  const std::int64_t now = unix_now();
  const QueuedSong& song = on_air_->song;
  PlayRecord play{song.id, song.path, now, on_air_->play_key, on_air_->started, record_source(song.source), outcome};
  play.audience = listeners_.audience(static_cast<double>(on_air_->started), static_cast<double>(now));
  listeners_.read_now();  // the next song's listeners at its start
  library_.record(std::move(play));
  history_.push_front({song, now});
  if (history_.size() > HISTORY_LENGTH) history_.pop_back();
  on_air_.reset();
}

void StationPlayer::follow(const EngineEvent& event) {
  if (event.kind == EngineEvent::Kind::stream_up || event.kind == EngineEvent::Kind::stream_down) {
    report_stream(event);
    return;
  }
  const std::int64_t when = unix_now();
  if (event.kind == EngineEvent::Kind::device_failed) {
    std::printf("Sound device %s failed (%s); trying again in %d s\n", device_.c_str(), event.error.c_str(),
                static_cast<int>(DEVICE_RETRY.count()));
    faults_.open(FaultKind::device, "The sound device " + device_ + " fails (" + event.error + ")", when, when);
    return;
  }
  if (event.kind == EngineEvent::Kind::held) {
    // Nothing carries the program: the songs not heard whole wait at the
    // head of the queue, uncounted, until the card or a stream takes it.
    if (on_air_ && when - on_air_->started >= 1) {
      end_play(OUTCOME_FAILED);  // a play the device cut after it had begun is on record
    } else {
      on_air_.reset();
    }
    for (auto song = loaded_.rbegin(); song != loaded_.rend(); ++song) queue_.give_back(std::move(song->song));
    loaded_.clear();
    skipped_entry_.reset();
    engine_.clear();
    changed_ = true;
    return;
  }
  if (event.kind == EngineEvent::Kind::device_back) {
    std::printf("Sound device %s plays again\n", device_.c_str());
    faults_.pass(FaultKind::device, when);
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
      std::printf("On air: %s\n", loaded_.front().song.path.c_str());
      begin_play(now);
      listeners_.read_now();
      break;
    case EngineEvent::Kind::finished:
      end_play(skipped_entry_ == event.entry ? OUTCOME_SKIPPED : OUTCOME_PLAYED);
      if (skipped_entry_ == event.entry) skipped_entry_.reset();
      loaded_.pop_front();
      break;
    case EngineEvent::Kind::failed: {
      const std::string path = loaded_.front().song.path;
      std::printf("Skipped %s: %s\n", path.c_str(), event.error.c_str());
      if (!on_air_) begin_play(now);
      end_play(OUTCOME_FAILED);
      faults_.open(FaultKind::skipped, "Skipped " + path + ": " + event.error, now, now);
      loaded_.pop_front();
      break;
    }
    case EngineEvent::Kind::none:
    case EngineEvent::Kind::device_failed:
    case EngineEvent::Kind::device_back:
    case EngineEvent::Kind::held:
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

// Saved settings hold for every song that starts after the Save: the songs
// given to the engine ahead are prepared again.
void StationPlayer::follow_settings() {
  const FileStamp stamp = stamp_of((folder_ / SOUND_SETTINGS_FILE).string());
  if (settings_stamp_ && stamp == *settings_stamp_) return;
  const bool first = !settings_stamp_;
  settings_stamp_ = stamp;
  const SoundSettings settings = read_sound_settings(folder_);
  engine_.set_crossfade(settings.crossfade_s);
  engine_.set_streams(settings.streams());
  listeners_.watch(settings.streams());
  const bool sound_changed =
      settings.target_lufs != settings_.target_lufs || settings.crossfade_s != settings_.crossfade_s;
  settings_ = settings;
  if (!first && sound_changed && loaded_.size() > 1) {
    take_back();
    changed_ = true;
  }
}

RecentPlays StationPlayer::recent_songs(std::int64_t now) const {
  RecentPlays recent;
  for (const auto& played : history_) {
    auto& last = recent[played.song.path];
    last = std::max(last, played.played);
  }
  for (const auto& song : loaded_) recent[song.song.path] = now;
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
        std::printf("This hour: no songs in the schedule; trying again in %d s\n",
                    static_cast<int>(SCHEDULE_RETRY.count()));
      }
      schedule_empty_said_ = true;
      schedule_retry_at_ = time + time_limit(SCHEDULE_RETRY);
      answered_empty = true;
    } else {
      std::printf("This hour: %zu songs from the schedule\n", songs->size());
      schedule_empty_said_ = false;
      queue_.set_schedule(std::move(*songs), hour);
      changed_ = true;
    }
  }
  // The schedule's songs are for the hour they were drawn for.
  if (hour != queue_.schedule_hour() && !queue_.schedule().empty()) {
    queue_.drop_schedule();
    changed_ = true;
  }
  // Asked for while the last sent song still plays, so they are there in time.
  if (queue_.empty() && !schedule_asked_ && time >= schedule_retry_at_) {
    library_.request_songs(recent_songs(now), now, current_hour(get_local_time()));
    schedule_asked_ = true;
    schedule_asked_at_ = time;
  }
  if (auto song = queue_.take_next()) return song;
  // A library that is locked or gone does not silence the station while it
  // has songs it drew before.
  const bool library_fails =
      answered_empty || (schedule_asked_ && time - schedule_asked_at_ >= time_limit(FALLBACK_AFTER));
  if (!library_fails || !loaded_.empty() || time < fallback_retry_at_) return std::nullopt;
  auto song = queue_.take_fallback();
  if (song) std::printf("The library does not answer: %s again from the songs drawn before\n", song->path.c_str());
  return song;
}

// A song whose file is missing is skipped: on record and a fault. A
// scheduled one is one fault until its file is back, and the hour's songs
// are drawn again only after a pause, so a library whose files are gone is
// not tried in a loop.
bool StationPlayer::skip_missing(const QueuedSong& song) {
  std::error_code failed;
  if (std::filesystem::is_regular_file(song.path, failed)) {
    missing_.erase(song.path);
    return false;
  }
  const bool scheduled = song.source == SongSource::schedule;
  if (scheduled) {
    schedule_retry_at_ = fallback_retry_at_ = Clock::now() + time_limit(SCHEDULE_RETRY);
    if (!missing_.insert(song.path).second) return true;
  }
  std::printf("Skipped %s: the file is missing\n", song.path.c_str());
  const std::int64_t now = unix_now();
  library_.record(PlayRecord{song.id, song.path, now, play_key(now), now, record_source(song.source), OUTCOME_FAILED});
  faults_.open(FaultKind::skipped, "Skipped " + song.path + ": the file is missing", now, now);
  return true;
}

void StationPlayer::supply() {
  if (stopped_) return;
  // A new hour: its own entry's songs come next, not the last hour's.
  if (queue_.schedule_hour() >= 0 && hour_now() != queue_.schedule_hour() && has_scheduled(loaded_)) take_back();
  while (loaded_.size() < SONGS_AHEAD) {
    auto song = next_song();
    if (!song) break;
    if (skip_missing(*song)) {
      changed_ = true;
      continue;
    }
    // No song goes on air before its sound is known: one not measured, or
    // whose file changed since, is measured first.
    const auto facts = song_facts_.facts(song->path);
    if (!facts) {
      queue_.give_back(std::move(*song));
      break;
    }
    apply_device_choice();  // from this song on
    const auto entry = engine_.append(song->path, sound_of(*song, *facts));
    if (!entry) {
      std::printf("Skipped %s: the player cannot take it\n", song->path.c_str());
      changed_ = true;
      continue;
    }
    loaded_.push_back({*entry, std::move(*song)});
    changed_ = true;
  }
  if (!changed_) return;
  // The songs due next are measured while this one plays.
  std::vector<std::string> due;
  for (const auto* list : {&queue_.sent(), &queue_.schedule()}) {
    for (const QueuedSong& song : *list) {
      if (due.size() < MEASURED_AHEAD) due.push_back(song.path);
    }
  }
  song_facts_.ahead(due);
}

void StationPlayer::watch_silence() {
  const auto time = Clock::now();
  const bool should_play = !stopped_ && (!loaded_.empty() || !queue_.empty());
  if (on_air_ || !should_play) {
    silent_since_ = time;
    faults_.pass(FaultKind::silent, unix_now());
    return;
  }
  if (time - silent_since_ > time_limit(SILENT_FAULT_AFTER)) {
    const std::int64_t now = unix_now();
    faults_.open(FaultKind::silent, "The station is silent though it should be playing", now - 10, now);
  }
}

void StationPlayer::save() {
  SavedState state;
  state.alive = unix_now();
  state.stopped = stopped_;
  state.next_key = queue_.next_key();
  if (on_air_) {
    state.now = *on_air_;
    state.now->position = engine_.position();
  }
  // What the engine holds beyond the song on air waits again at the head.
  for (std::size_t i = 1; i < loaded_.size(); ++i) state.queue.push_back(loaded_[i].song);
  if (!on_air_ && !loaded_.empty()) state.queue.push_front(loaded_.front().song);
  state.queue.insert(state.queue.end(), queue_.sent().begin(), queue_.sent().end());
  state.schedule = queue_.schedule();
  state.schedule_hour = queue_.schedule_hour();
  state.faults = faults_.faults();
  if (!save_player_state(folder_ / PLAYER_STATE_FILE, state)) {
    std::printf("The state could not be saved in %s\n", (folder_ / PLAYER_STATE_FILE).string().c_str());
  }
}

// --- The station's sound: settings, the song's own gain and cues, the stream.

SongCue StationPlayer::sound_of(const QueuedSong& song, const SongFacts& facts) const {
  SongCue cue;
  cue.start_at_s = song.start_at;  // a song cut by a stop or the player's end goes on where it was
  cue.title = song_file_name(song.path);
  if (const auto dot = cue.title.rfind('.'); dot != std::string::npos && dot > 0) cue.title.resize(dot);
  cue.artist = facts.artist;
  cue.name = facts.title.empty() ? cue.title : facts.title;
  cue.title = stream_title(facts.artist, facts.title, cue.title);
  cue.fades = facts.fades;
  // Measured songs play at the station's loudness; those without sound as they are.
  if (facts.fade_out_ms > 0) {
    cue.gain_db = facts.replay_gain + settings_.target_lufs - REFERENCE_LUFS;
    cue.cue_in_s = facts.fade_in_ms / 1000.0;
    cue.cue_out_s = facts.fade_out_ms / 1000.0;
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
      faults_.pass(FaultKind::stream, state.since);
    }
  } else {
    std::printf("Stream %s is down (%s); trying again every 5 s\n", event.stream.c_str(), event.error.c_str());
    // The listeners hear nothing: a fault on every page and on record, as a failing sound card is.
    faults_.open(FaultKind::stream, "The stream " + event.stream + " is down (" + event.error + ")", state.since,
                 state.since);
  }
  write_stream_status(folder_ / STREAM_STATUS_FILE, streams_);
}

void StationPlayer::publish() {
  const auto time = Clock::now();
  if (!changed_ && time - published_ < time_limit(PUBLISH_INTERVAL)) return;
  // While the device fails, another the operator chooses is taken at once.
  if (engine_.device_failing()) apply_device_choice();
  save();
  OnAir state;
  state.updated = unix_now();
  state.device = device_.empty() ? chosen_sound_device(folder_ / SOUND_DEVICE_FILE, system_default_) : device_;
  // The pages say why nothing is heard here: the station chose no card, or the machine has none.
  if (state.device == NULL_DEVICE) {
    state.device +=
        chosen_sound_device(folder_ / SOUND_DEVICE_FILE, "").empty() ? " (no sound card)" : " (streaming only)";
  }
  state.window = window_;
  state.stopped = stopped_;
  state.faults = faults_.faults();
  if (on_air_) {
    state.now = on_air_;
    state.now->position = engine_.position();
    state.now->length = engine_.length();
  }
  // Songs given to the engine wait with the others until one is on air (a device that fails holds them).
  for (std::size_t i = on_air_ ? 1 : 0; i < loaded_.size(); ++i) state.queue.push_back(loaded_[i].song);
  state.queue.insert(state.queue.end(), queue_.sent().begin(), queue_.sent().end());
  state.queue.insert(state.queue.end(), queue_.schedule().begin(), queue_.schedule().end());
  state.history = history_;
  if (!write_onair_file(folder_ / ONAIR_FILE, state)) {
    std::printf("The state could not be written to %s\n", (folder_ / ONAIR_FILE).string().c_str());
  }
  published_ = time;
  changed_ = false;
}

}  // namespace zv::player
