#include "playback_engine.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "card_output.h"
#include "engine_wake.h"
#include "platform/thread.h"
#include "song_decoder.h"
#include "song_mixing.h"

namespace zv::player {

namespace {

using Clock = EngineClock;

// How far the program is made ahead of the system's clock when no card keeps time.
constexpr double AHEAD_S = 0.2;
// A card holding less than this is given silence in place of a source that
// has fallen behind, rather than wait for it longer.
constexpr double LOW_S = 0.1;
// The card plays what was made before it hears a skip: the fade is short
// enough that the song still ends within 0.8 s of the skip.
constexpr double SKIP_FADE_S = 0.2;
constexpr float SILENCE_LEVEL = 0.00316f;  // -50 dBFS
constexpr double DEAD_AIR_S = 10;
constexpr std::size_t SONGS_DECODED_AHEAD = 2;
constexpr auto SOURCE_WAIT = std::chrono::milliseconds(20);
constexpr auto IDLE_WAKE = std::chrono::seconds(1);

struct Song {
  std::int64_t entry = 0;
  SongCue cue;
  std::string path;
  double begin_s = 0;  // where in the file its first frame is
  std::unique_ptr<ProgramSource> source;
  std::optional<double> duration;
  std::int64_t start = -1;  // the program frame of its first frame
  std::int64_t total = -1;  // its frames, once known
  std::int64_t played = 0;  // frames of it in the program so far
  std::int64_t fade_in = 0;
  std::int64_t end_at = -1;  // the program frame it is made to end at (skip, dead air)
  std::int64_t end_fade = 0;
  std::string fault;      // why it was made to end
  bool done = false;      // its last frame is in the program
  bool end_told = false;  // its end event is on its way
};

struct TimedEvent {
  std::int64_t frame = 0;  // the program frame it happens at
  EngineEvent event;
};

}  // namespace

struct PlaybackEngine::Program {
  mutable std::mutex lock;  // never held while waiting: the engine's thread sleeps without it
  std::condition_variable events_ready;
  std::shared_ptr<EngineWake> wake = std::make_shared<EngineWake>();
  std::deque<Song> songs;  // appended, in order; the first ones on air
  std::int64_t next_entry = 1;
  // The program's rate: the card's own, found before the first song, so
  // songs are converted once, into the program, and not again on the card.
  int rate = 0;
  std::int64_t block = 0;                    // the program is made 100 ms at a time
  std::vector<StreamTarget> stream_targets;  // made into outputs once the rate is chosen
  bool device_chosen = false;
  std::int64_t frame = 0;  // program frames made
  std::deque<TimedEvent> timed;
  std::deque<EngineEvent> due;
  // Where the program goes; the card, when there is one, first.
  std::vector<std::unique_ptr<Output>> outputs;
  CardOutput* card = nullptr;
  mutable std::int64_t last_heard = 0;  // what was heard never goes back
  // Without a card keeping time, the program follows the system's clock from here.
  bool timed_by_card = false;
  Clock::time_point clock_start = Clock::now();
  std::int64_t clock_base = 0;
  bool held_told = false;
  std::optional<std::string> next_card;  // the card chosen for the next song
  double crossfade_s = 3;
  std::string title, artist, name;  // of the song on air, for the streams
  std::int64_t silent = 0;
  std::vector<float> mix, part;
  std::atomic<bool> stopping{false};
  std::thread thread;

  std::int64_t frames_of(double seconds) const { return frames_at(seconds, rate ? rate : PROGRAM_RATE); }
  // The program's rate is the card's where the card can tell it, else the
  // usual one; chosen once the card is, or a song comes without one.
  void choose_rate() {
    if (!device_chosen && songs.empty()) return;
    if (card && !card->native_rate() && card->fault().empty()) return;  // it is being found
    rate = card && card->native_rate().value_or(0) > 0 ? *card->native_rate() : PROGRAM_RATE;
    block = rate / 10;
    clock_start = Clock::now();
    if (card) card->set_program_rate(rate);
    make_streams();
  }
  void make_streams() {
    std::erase_if(outputs, [](const auto& output) { return dynamic_cast<StreamOutput*>(output.get()) != nullptr; });
    for (const StreamTarget& target : stream_targets) {
      auto stream = std::make_unique<StreamOutput>(target, wake, rate);
      stream->set_title(title, artist, name);
      outputs.push_back(std::move(stream));
    }
  }
  template <typename Kind>
  std::vector<Output*> outputs_of_kind() const {
    std::vector<Output*> found;
    for (const auto& output : outputs) {
      if (dynamic_cast<Kind*>(output.get())) found.push_back(output.get());
    }
    return found;
  }
  Output* time_keeper() const { return card && card->keeps_time() ? card : nullptr; }
  std::int64_t clock_frames() const {
    return clock_base + frames_of(std::chrono::duration<double>(Clock::now() - clock_start).count());
  }
  // Program frames played out by now.
  std::int64_t heard() const {
    const Output* keeper = time_keeper();
    const std::int64_t now = keeper && timed_by_card ? keeper->heard(frame) : std::min(frame, clock_frames());
    last_heard = std::max(last_heard, now);
    return last_heard;
  }
  // The clock passes to the system's when the card stops keeping time.
  void keep_time(Clock::time_point now) {
    const bool by_card = time_keeper() != nullptr;
    if (by_card == timed_by_card) return;
    if (!by_card) {
      clock_base = last_heard;
      clock_start = now;
    }
    timed_by_card = by_card;
  }
  // A card chosen that does not play, and no stream that carries the program.
  bool held() const {
    return card && std::none_of(outputs.begin(), outputs.end(), [](const auto& o) { return o->carries(); });
  }
  bool room() const {
    if (!rate || held()) return false;
    if (const Output* keeper = time_keeper()) return keeper->needs_program();
    return frame < clock_frames() + frames_of(AHEAD_S);
  }
  // Whether a block must be made now, with silence for a source that lacks sound.
  bool must_make() const {
    if (card && timed_by_card) return card->ahead_seconds() < LOW_S;
    return frame <= clock_frames();
  }
  std::unique_ptr<ProgramSource> open_source(const Song& song) {
    return std::make_unique<SongDecoder>(
        song.path, song.begin_s, [wake = wake] { wake->wake(); }, rate);
  }
  void tell(std::int64_t at, EngineEvent event) {
    auto place = std::upper_bound(timed.begin(), timed.end(), at,
                                  [](std::int64_t frame, const TimedEvent& e) { return frame < e.frame; });
    timed.insert(place, {at, std::move(event)});
  }
  void tell_now(EngineEvent event) {
    due.push_back(std::move(event));
    events_ready.notify_all();
  }
  void tell_end(Song& song, std::int64_t at) {
    if (song.end_told) return;
    song.end_told = true;
    tell(at,
         {song.fault.empty() ? EngineEvent::Kind::finished : EngineEvent::Kind::failed, song.entry, song.fault, {}});
  }

  std::int64_t overlap(const Song& out, const Song& in) const {
    if (!out.cue.fades || !in.cue.fades || out.end_at >= 0) return 0;
    return crossfade_frames(frames_of(crossfade_s), out.total >= 0 ? std::optional(out.total) : std::nullopt,
                            in.duration ? std::optional(frames_of(*in.duration - in.begin_s)) : std::nullopt);
  }

  // The song heard on air: the last one heard to start. In a crossfade that
  // is the incoming song, the outgoing one having ended already.
  Song* on_air() {
    const std::int64_t now = heard();
    Song* found = nullptr;
    for (Song& song : songs) {
      if (song.start < 0 || song.start > now) break;
      found = &song;
    }
    if (found && found->done && found->start + found->played <= now) return nullptr;
    return found;
  }
  // The frames of `song` the block from `block_start` takes.
  std::int64_t wanted(const Song& song, std::int64_t block_start) const {
    std::int64_t left = song.total >= 0 ? song.total - song.played : -1;
    if (song.end_at >= 0) {
      const std::int64_t to_end = song.end_at - song.start - song.played;
      left = left >= 0 ? std::min(left, to_end) : to_end;
    }
    return frames_in_block(block_start, block, song.start + song.played, left);
  }

  // Plays on `alsa_name` from now on; the card before plays out what it holds.
  void use_card(const std::string& alsa_name) {
    if (card ? card->name() == alsa_name : alsa_name == NULL_DEVICE) return;  // a failing one opens again by itself
    heard();
    std::string fault;
    if (card) {
      fault = card->fault();
      for (auto& output : outputs) {
        if (output.get() == card) card->drain(), output.reset();
      }
      std::erase(outputs, nullptr);
      card = nullptr;
    }
    if (alsa_name != NULL_DEVICE) {
      auto opened = std::make_unique<CardOutput>(alsa_name, wake, rate, std::move(fault));
      card = opened.get();
      outputs.insert(outputs.begin(), std::move(opened));
    }
    keep_time(Clock::now());
  }
  void run();
  void follow_outputs(Clock::time_point now);
  bool make_block(bool must);
  void start_due(std::int64_t block_start);
  void add_song(Song& song, const Song* next, std::int64_t block_start);
  void release_due();
  Clock::time_point next_wake(Clock::time_point now, bool lacking) const;
};

void PlaybackEngine::Program::start_due(std::int64_t block_start) {
  // The next songs open while the one before plays, so they start on time.
  std::size_t waiting = 0;
  for (Song& song : songs) {
    if (song.start >= 0) continue;
    if (waiting++ >= SONGS_DECODED_AHEAD) break;
    if (!song.source) song.source = open_source(song);
    // Its length, as soon as it is known, sets the crossfade into it.
    if (!song.duration && song.source->status() == ProgramSource::Status::ready)
      song.duration = song.source->duration();
  }
  for (std::size_t i = 0; i < songs.size(); ++i) {
    Song& song = songs[i];
    if (song.start >= 0) continue;
    Song* before = i > 0 ? &songs[i - 1] : nullptr;
    std::int64_t planned = block_start, fade_in = 0;
    if (before && before->end_at >= 0) {
      planned = before->end_at - before->end_fade;  // a skip: the next at once
    } else if (before && before->done) {
      planned = before->start + before->played;
    } else if (before && before->total >= 0) {
      fade_in = overlap(*before, song);
      planned = before->start + before->total - fade_in;
    } else if (before) {
      return;  // its end is not known yet
    }
    if (planned >= block_start + block) return;
    if (!song.source) song.source = open_source(song);
    const auto status = song.source->status();
    if (status == ProgramSource::Status::opening) return;
    const std::int64_t at = std::max(planned, block_start);
    if (status == ProgramSource::Status::failed) {
      if (before) tell_end(*before, at);  // events come in the order the songs were appended
      tell(at, {EngineEvent::Kind::failed, song.entry, song.source->error(), {}});
      songs.erase(songs.begin() + static_cast<std::ptrdiff_t>(i));
      --i;
      continue;
    }
    song.duration = song.source->duration();
    song.total = song_frames(song.begin_s, song.cue.cue_out_s, song.duration, rate).value_or(-1);
    song.start = at;
    song.fade_in = at == planned ? fade_in : 0;
    if (before) tell_end(*before, at);
    tell(at, {EngineEvent::Kind::started, song.entry, {}, {}});
    title = song.cue.title;
    artist = song.cue.artist;
    name = song.cue.name;
    if (next_card) use_card(*std::exchange(next_card, std::nullopt));
    for (Output* output : outputs_of_kind<StreamOutput>())
      static_cast<StreamOutput*>(output)->set_title(title, artist, name);
  }
  // The last song ended with none after it.
  if (!songs.empty() && songs.back().done) tell_end(songs.back(), songs.back().start + songs.back().played);
}

void PlaybackEngine::Program::add_song(Song& song, const Song* next, std::int64_t block_start) {
  const std::int64_t from = song.start + song.played - block_start;
  const std::int64_t want = wanted(song, block_start);
  bool ended = false;
  std::size_t got = 0;
  if (want > 0) {
    part.assign(static_cast<std::size_t>(want) * PROGRAM_CHANNELS, 0.0f);
    got = song.source->read(part.data(), static_cast<std::size_t>(want), ended);
    // A source that has fallen behind leaves silence in its place and its
    // sound comes that much later: the program keeps time, nothing of the
    // song is lost, and a source that stays behind is dead air.
    if (!ended) song.start += want - static_cast<std::int64_t>(got);
  }
  const SongFades fades{gain_factor(song.cue.gain_db),
                        song.fade_in,
                        next ? overlap(song, *next) : 0,
                        song.total,
                        song.end_at >= 0 ? song.end_at - song.start : -1,
                        song.end_fade};
  for (std::size_t f = 0; f < got; ++f) {
    const double g = frame_gain(fades, song.played + static_cast<std::int64_t>(f));
    float* into = &mix[static_cast<std::size_t>(from + static_cast<std::int64_t>(f)) * PROGRAM_CHANNELS];
    for (int c = 0; c < PROGRAM_CHANNELS; ++c) into[c] += static_cast<float>(part[f * PROGRAM_CHANNELS + c] * g);
  }
  song.played += static_cast<std::int64_t>(got);
  if (ended || (song.total >= 0 && song.played >= song.total) ||
      (song.end_at >= 0 && song.start + song.played >= song.end_at)) {
    song.done = true;
    song.source.reset();  // its memory goes as soon as its sound is made
  }
}

bool PlaybackEngine::Program::make_block(bool must) {
  const std::int64_t block_start = frame;
  start_due(block_start);
  // A source that lacks its sound for the block is waited for while the
  // outputs hold enough: the engine sleeps until it has it.
  if (!must) {
    for (Song& song : songs) {
      if (song.start < 0 || song.done || song.start >= block_start + block) continue;
      const std::int64_t want = wanted(song, block_start);
      if (want > 0 && !song.source->has(static_cast<std::size_t>(want))) return false;
    }
  }
  mix.assign(static_cast<std::size_t>(block) * PROGRAM_CHANNELS, 0.0f);
  bool sounding = false;
  for (std::size_t i = 0; i < songs.size(); ++i) {
    Song& song = songs[i];
    if (song.start < 0 || song.done || song.start >= block_start + block) continue;
    sounding = true;
    add_song(song, i + 1 < songs.size() ? &songs[i + 1] : nullptr, block_start);
    // A song that ends within the block hands over to the next in it.
    if (song.done) start_due(block_start);
  }
  float peak = 0;
  for (const float sample : mix) peak = std::max(peak, std::fabs(sample));
  silent = sounding && peak < SILENCE_LEVEL ? silent + block : 0;
  if (silent >= frames_of(DEAD_AIR_S)) {
    silent = 0;
    for (Song& song : songs) {
      if (song.start < 0 || song.done) continue;
      song.end_at = block_start + block;
      song.fault = "silent for " + std::to_string(static_cast<int>(DEAD_AIR_S)) + " s";
      break;
    }
  }
  frame += block;
  for (const auto& output : outputs) output->push(mix.data(), static_cast<std::size_t>(block));
  return true;
}

void PlaybackEngine::Program::follow_outputs(Clock::time_point now) {
  heard();  // what the card played is kept before it may fail
  std::vector<EngineEvent> told;
  for (const auto& output : outputs) output->follow(now, told);
  keep_time(now);
  for (EngineEvent& event : told) tell_now(std::move(event));
  if (!held()) {
    held_told = false;
    return;
  }
  // Nothing carries the program and the card fails: the songs that were not
  // heard whole are told, to wait again. A card that opens is waited for.
  if (held_told || !card || card->fault().empty()) return;
  const std::int64_t now_heard = heard();
  for (const Song& song : songs) {
    if (song.start < 0 || (song.done && song.start + song.played <= now_heard)) continue;
    if (song.start > now_heard && song.start >= frame) break;
    held_told = true;
    tell_now({EngineEvent::Kind::held, song.entry, card->fault(), {}});
    break;
  }
}

void PlaybackEngine::Program::release_due() {
  const std::int64_t now = heard();
  bool any = false;
  while (!timed.empty() && timed.front().frame <= now) {
    due.push_back(std::move(timed.front().event));
    timed.pop_front();
    any = true;
  }
  if (any) events_ready.notify_all();
  while (!songs.empty() && songs.front().done && songs.front().end_told &&
         songs.front().start + songs.front().played <= now) {
    songs.pop_front();
  }
}

Clock::time_point PlaybackEngine::Program::next_wake(Clock::time_point now, bool lacking) const {
  Clock::time_point until = now + IDLE_WAKE;
  for (const auto& output : outputs) until = std::min(until, output->next_follow(now));
  // A card that keeps time wakes the engine when it needs program; the system's clock does not.
  if (!rate) return until;  // the card's rate is being found; it wakes the engine
  if (!held() && !time_keeper()) {
    const double due_s = static_cast<double>(frame - frames_of(AHEAD_S) - clock_base) / rate;
    until = std::min(until,
                     clock_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due_s)));
  }
  if (lacking) until = std::min(until, now + SOURCE_WAIT);
  // Events wait for the program to be heard.
  if (!timed.empty() && !time_keeper()) {
    const double due_s = static_cast<double>(timed.front().frame - clock_base) / rate;
    until = std::min(until,
                     clock_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(due_s)));
  }
  return until;
}

void PlaybackEngine::Program::run() {
  run_in_real_time();  // where the station's unit allows it: a busy machine does not starve the card
  std::unique_lock hold(lock);
  while (!stopping) {
    const auto now = Clock::now();
    follow_outputs(now);
    if (!rate) choose_rate();
    bool lacking = false;
    while (room()) {
      if (!make_block(must_make())) {
        lacking = true;
        break;
      }
    }
    release_due();
    const auto until = next_wake(now, lacking);
    hold.unlock();
    wake->sleep_until(until);
    hold.lock();
  }
}

PlaybackEngine::PlaybackEngine() : program_(std::make_unique<Program>()) {
  gstreamer_setup();
  program_->thread = std::thread([this] { program_->run(); });
}

PlaybackEngine::~PlaybackEngine() {
  program_->stopping = true;
  program_->wake->wake();
  program_->thread.join();
}

bool PlaybackEngine::ready() const { return gst_is_initialized(); }

std::optional<std::int64_t> PlaybackEngine::append(const std::string& path, const SongCue& cue) {
  std::int64_t entry = 0;
  {
    std::lock_guard hold(program_->lock);
    Song song;
    song.entry = entry = program_->next_entry++;
    song.cue = cue;
    song.path = path;
    song.begin_s = std::max({0.0, cue.cue_in_s, cue.start_at_s});
    program_->songs.push_back(std::move(song));
  }
  program_->wake->wake();
  return entry;
}
void PlaybackEngine::skip() {
  std::lock_guard hold(program_->lock);
  Song* song = program_->on_air();
  // One whose end is made already (fading under the next) ends by itself.
  if (!song || song->done || song->end_told || song->end_at >= 0) return;
  song->end_fade = program_->frames_of(SKIP_FADE_S);
  song->end_at = std::max(program_->frame, song->start) + song->end_fade;
}

void PlaybackEngine::remove(std::int64_t entry) {
  std::lock_guard hold(program_->lock);
  auto& songs = program_->songs;
  const auto song = std::find_if(songs.begin(), songs.end(), [entry](const Song& s) { return s.entry == entry; });
  // A song already heard is on air; one only made ahead of what is heard is
  // not yet, and goes with the events told for it.
  if (song == songs.end() || (song->start >= 0 && song->start <= program_->heard())) return;
  std::erase_if(program_->timed, [entry](const TimedEvent& e) { return e.event.entry == entry; });
  songs.erase(song);
}

void PlaybackEngine::clear() {
  std::lock_guard hold(program_->lock);
  program_->songs.clear();
  program_->timed.clear();
  program_->title.clear();
  program_->artist.clear();
  program_->name.clear();
}

void PlaybackEngine::use_device(const std::string& alsa_name) {
  {
    std::lock_guard hold(program_->lock);
    Program& p = *program_;
    p.device_chosen = true;
    const bool playing = std::any_of(p.songs.begin(), p.songs.end(), [](const Song& song) { return song.start >= 0; });
    if (playing && p.card && p.card->fault().empty()) {
      p.next_card = alsa_name;
    } else {
      p.next_card.reset();
      p.use_card(alsa_name);
    }
  }
  program_->wake->wake();
}

bool PlaybackEngine::device_failing() const {
  std::lock_guard hold(program_->lock);
  return program_->card && !program_->card->fault().empty();
}

void PlaybackEngine::set_crossfade(double seconds) {
  std::lock_guard hold(program_->lock);
  program_->crossfade_s = std::max(0.0, seconds);
}

void PlaybackEngine::set_streams(const std::vector<StreamTarget>& targets) {
  {
    std::lock_guard hold(program_->lock);
    if (program_->stream_targets == targets) return;
    program_->stream_targets = targets;
    if (program_->rate) program_->make_streams();
  }
  program_->wake->wake();
}

std::optional<EngineEvent> PlaybackEngine::next_event(double timeout_s) {
  std::unique_lock hold(program_->lock);
  program_->events_ready.wait_for(hold, std::chrono::duration<double>(timeout_s),
                                  [this] { return !program_->due.empty(); });
  if (program_->due.empty()) return std::nullopt;
  EngineEvent event = std::move(program_->due.front());
  program_->due.pop_front();
  return event;
}

double PlaybackEngine::position() const {
  std::lock_guard hold(program_->lock);
  const Song* song = program_->on_air();
  return song ? song->begin_s + static_cast<double>(program_->heard() - song->start) / program_->rate : 0;
}

std::optional<double> PlaybackEngine::length() const {
  std::lock_guard hold(program_->lock);
  const Song* song = program_->on_air();
  return song ? song->duration : std::nullopt;
}

bool PlaybackEngine::device_opens(const std::string& alsa_name) {
  gstreamer_setup();
  GstElement* sink = gst_element_factory_make("alsasink", nullptr);
  if (!sink) return false;
  g_object_set(sink, "device", alsa_name.c_str(), nullptr);
  const bool opens = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
  gst_element_set_state(sink, GST_STATE_NULL);
  gst_object_unref(sink);
  return opens;
}

}  // namespace zv::player
