#include "playback_engine.h"

#include <gst/gst.h>

#include <algorithm>
#include <cctype>
#include <utility>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include "program_output.h"
#include "song_decoder.h"

namespace zv::player {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t BLOCK = PROGRAM_RATE / 50;  // the program is made 20 ms at a time
// How far the program is made ahead of what is heard: the device's own
// buffer comes on top of this.
constexpr double AHEAD_S = 0.1;
constexpr double SKIP_FADE_S = 0.5;
constexpr double DEVICE_SETTLING_S = 0.4;
// A device plays at most in real time, plus what its buffers hold: one that
// takes the program faster than that does not play it out (its writes fail).
constexpr double DEVICE_RATE_SLACK = 1.02;
constexpr double DEVICE_BUFFER_S = 1;
constexpr double DEVICE_AHEAD_LIMIT_S = 2;
constexpr float SILENCE_LEVEL = 0.00316f;  // -50 dBFS
constexpr double DEAD_AIR_S = 10;
constexpr auto STREAM_RETRY = std::chrono::seconds(5);
// A stream that has taken the program this long without a fault is up.
constexpr auto STREAM_SETTLED = std::chrono::seconds(2);
constexpr std::size_t SONGS_DECODED_AHEAD = 2;
// A decoder kept from the processor a moment is waited for, within what the
// device holds.
constexpr double DECODER_WAIT_S = 0.15;
constexpr double HALF_PI = 1.5707963267948966;

std::int64_t frames_of(double seconds) { return std::llround(seconds * PROGRAM_RATE); }

struct Song {
  std::int64_t entry = 0;
  SongCue cue;
  std::string path;
  double begin_s = 0;  // where in the file its first frame is
  std::unique_ptr<SongDecoder> decoder;
  std::optional<double> duration;
  std::int64_t start = -1;   // the program frame of its first frame
  std::int64_t total = -1;   // its frames, once known
  std::int64_t played = 0;   // frames of it in the program so far
  std::int64_t fade_in = 0;
  std::int64_t end_at = -1;  // the program frame it is made to end at (skip, dead air)
  std::int64_t end_fade = 0;
  std::string fault;         // why it was made to end
  bool done = false;         // its last frame is in the program
  bool end_told = false;     // its end event is on its way
};

struct TimedEvent {
  std::int64_t frame = 0;  // the program frame it happens at
  EngineEvent event;
};

struct Stream {
  StreamTarget target;
  std::unique_ptr<ProgramOutput> output;
  Clock::time_point started{}, retry_at{};
  bool up = false, down_told = false;
  std::string title_sent;
  GstElement* title_request = nullptr;
  Stream() = default;
  Stream(Stream&& other) noexcept
      : target(std::move(other.target)), output(std::move(other.output)), started(other.started),
        retry_at(other.retry_at), up(other.up), down_told(other.down_told), title_sent(std::move(other.title_sent)),
        title_request(std::exchange(other.title_request, nullptr)) {}
  ~Stream() {
    if (title_request) {
      gst_element_set_state(title_request, GST_STATE_NULL);
      gst_object_unref(title_request);
    }
  }
};

std::string stream_address(const StreamTarget& target) {
  return "icecast://" + target.host + ":" + std::to_string(target.port) + target.mount;
}

std::string stream_pipeline(const StreamTarget& target) {
  const std::string encode = target.opus ? "opusenc bitrate=" + std::to_string(target.kbps * 1000) + " ! oggmux"
                                         : "lamemp3enc target=bitrate cbr=true bitrate=" + std::to_string(target.kbps);
  return "audioconvert ! audioresample ! " + encode + " ! shout2send name=shout";
}

std::string percent_encoded(const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Tells the server the stream's title, as its source does: a request to its
// metadata update with the source's credentials, made by GStreamer's HTTP
// source and left to finish by itself.
GstElement* title_request(const StreamTarget& target, const std::string& title) {
  GstElement* request = gst_parse_launch("souphttpsrc name=get ! fakesink", nullptr);
  if (!request) return nullptr;
  GstElement* get = gst_bin_get_by_name(GST_BIN(request), "get");
  const std::string url = "http://" + target.host + ":" + std::to_string(target.port) + "/admin/metadata?mount=" +
                          percent_encoded(target.mount) + "&mode=updinfo&charset=UTF-8&song=" + percent_encoded(title);
  g_object_set(get, "location", url.c_str(), "user-id", "source", "user-pw", target.password.c_str(), "timeout", 5u,
               nullptr);
  gst_object_unref(get);
  gst_element_set_state(request, GST_STATE_PLAYING);
  return request;
}

// Whether a title request has finished (and is gone).
bool title_request_done(GstElement*& request) {
  if (!request) return true;
  GstBus* bus = gst_element_get_bus(request);
  GstMessage* end = gst_bus_pop_filtered(bus, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  gst_object_unref(bus);
  if (!end) return false;
  gst_message_unref(end);
  gst_element_set_state(request, GST_STATE_NULL);
  gst_object_unref(request);
  request = nullptr;
  return true;
}

}  // namespace

struct PlaybackEngine::Program {
  mutable std::mutex lock;
  std::condition_variable events_ready;
  std::deque<Song> songs;  // appended, in order; the first ones on air
  std::int64_t next_entry = 1;
  std::int64_t frame = 0;  // program frames made
  std::deque<TimedEvent> timed;
  std::deque<EngineEvent> due;
  std::unique_ptr<ProgramOutput> device;
  bool device_broken = false;  // nothing is made until a device is chosen again
  std::int64_t device_settling = 0;  // frames of silence the device opens with
  // What the device can have played out by now at most, as it took the
  // program: it grows no faster than real time.
  std::int64_t device_played = 0;
  Clock::time_point device_followed{};
  std::string device_error;
  bool device_error_told = false;
  Clock::time_point clock_start = Clock::now();
  std::int64_t clock_base = 0;
  double crossfade_s = 3;
  std::vector<Stream> streams;
  std::string title;
  std::int64_t silent = 0;
  std::vector<float> mix, part;
  std::atomic<bool> stopping{false};
  std::thread thread;

  std::int64_t clock_frames() const {
    return clock_base + frames_of(std::chrono::duration<double>(Clock::now() - clock_start).count());
  }
  std::int64_t device_taken() const {
    return static_cast<std::int64_t>(device->pushed()) - frames_of(device->queued_seconds());
  }
  // Program frames played out by now: what the device took, less what it
  // took faster than it can play and hold.
  std::int64_t heard() const {
    if (device) {
      const std::int64_t beyond =
          std::max<std::int64_t>(0, device_taken() - device_played - frames_of(DEVICE_BUFFER_S));
      return std::max<std::int64_t>(0, frame - frames_of(device->queued_seconds()) - beyond);
    }
    return std::min(frame, clock_frames());
  }
  bool room() const {
    if (device_broken) return false;
    if (device) return device->queued_seconds() < AHEAD_S;
    return frame < clock_frames() + frames_of(AHEAD_S);
  }
  void follow_time() {
    clock_base = heard();
    clock_start = Clock::now();
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
    tell(at, {song.fault.empty() ? EngineEvent::Kind::finished : EngineEvent::Kind::failed, song.entry, song.fault, {}});
  }

  std::int64_t overlap(const Song& out, const Song& in) const {
    if (!out.cue.fades || !in.cue.fades || out.end_at >= 0) return 0;
    std::int64_t frames = frames_of(crossfade_s);
    if (out.total >= 0) frames = std::min(frames, out.total / 2);
    if (in.duration) frames = std::min(frames, frames_of(*in.duration - in.begin_s) / 2);
    return std::max<std::int64_t>(0, frames);
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

  void device_failed(std::string why) {
    follow_time();  // what the device took stays taken; the rest waits
    device.reset();
    device_broken = true;
    device_error = std::move(why);
    device_error_told = false;
  }
  void follow_device();
  void run();
  void make_block();
  void start_due(std::int64_t block_start);
  void add_song(Song& song, const Song* next, std::int64_t block_start);
  void follow_outputs();
  void release_due();
};

void PlaybackEngine::Program::start_due(std::int64_t block_start) {
  // The next songs open while the one before plays, so they start on time.
  std::size_t waiting = 0;
  for (Song& song : songs) {
    if (song.start >= 0) continue;
    if (waiting++ >= SONGS_DECODED_AHEAD) break;
    if (!song.decoder) song.decoder = std::make_unique<SongDecoder>(song.path, song.begin_s);
    // Its length, as soon as it is known, sets the crossfade into it.
    if (!song.duration && song.decoder->status() == SongDecoder::Status::ready) song.duration = song.decoder->duration();
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
    if (planned >= block_start + BLOCK) return;
    if (!song.decoder) song.decoder = std::make_unique<SongDecoder>(song.path, song.begin_s);
    const auto status = song.decoder->status();
    if (status == SongDecoder::Status::opening) return;
    const std::int64_t at = std::max(planned, block_start);
    if (status == SongDecoder::Status::failed) {
      if (before) tell_end(*before, at);  // events come in the order the songs were appended
      tell(at, {EngineEvent::Kind::failed, song.entry, song.decoder->error(), {}});
      songs.erase(songs.begin() + static_cast<std::ptrdiff_t>(i));
      --i;
      continue;
    }
    song.duration = song.decoder->duration();
    double end_s = song.duration.value_or(0);
    if (song.cue.cue_out_s > song.begin_s && (!song.duration || song.cue.cue_out_s < *song.duration)) {
      end_s = song.cue.cue_out_s;
    }
    if (end_s > song.begin_s) song.total = frames_of(end_s - song.begin_s);
    song.start = at;
    song.fade_in = at == planned ? fade_in : 0;
    if (before) tell_end(*before, at);
    tell(at, {EngineEvent::Kind::started, song.entry, {}, {}});
    title = song.cue.title;
  }
  // The last song ended with none after it.
  if (!songs.empty() && songs.back().done) tell_end(songs.back(), songs.back().start + songs.back().played);
}

void PlaybackEngine::Program::add_song(Song& song, const Song* next, std::int64_t block_start) {
  const std::int64_t from = song.start + song.played - block_start;
  std::int64_t want = BLOCK - from;
  if (song.total >= 0) want = std::min(want, song.total - song.played);
  if (song.end_at >= 0) want = std::min(want, song.end_at - song.start - song.played);
  bool ended = false;
  std::size_t got = 0;
  if (want > 0) {
    part.assign(static_cast<std::size_t>(want) * PROGRAM_CHANNELS, 0.0f);
    got = song.decoder->read(part.data(), static_cast<std::size_t>(want), ended, DECODER_WAIT_S);
    // A decoder that stalls leaves silence in its place: the program keeps
    // time, and a decoder that stays stalled is dead air.
    if (!ended) got = static_cast<std::size_t>(want);
  }
  const double gain = std::pow(10.0, song.cue.gain_db / 20);
  const std::int64_t fade_out = next ? overlap(song, *next) : 0;
  for (std::size_t f = 0; f < got; ++f) {
    const std::int64_t t = song.played + static_cast<std::int64_t>(f);
    double g = gain;
    if (t < song.fade_in) g *= std::sin(HALF_PI * static_cast<double>(t) / static_cast<double>(song.fade_in));
    if (fade_out > 0 && song.total - t < fade_out) {
      g *= std::sin(HALF_PI * static_cast<double>(std::max<std::int64_t>(0, song.total - t)) / static_cast<double>(fade_out));
    }
    if (song.end_fade > 0) {
      const std::int64_t left = song.end_at - song.start - t;
      if (left < song.end_fade) g *= static_cast<double>(std::max<std::int64_t>(0, left)) / static_cast<double>(song.end_fade);
    }
    float* into = &mix[static_cast<std::size_t>(from + static_cast<std::int64_t>(f)) * PROGRAM_CHANNELS];
    for (int c = 0; c < PROGRAM_CHANNELS; ++c) into[c] += static_cast<float>(part[f * PROGRAM_CHANNELS + c] * g);
  }
  song.played += static_cast<std::int64_t>(got);
  if (ended || (song.total >= 0 && song.played >= song.total) ||
      (song.end_at >= 0 && song.start + song.played >= song.end_at)) {
    song.done = true;
    song.decoder.reset();  // its memory goes as soon as its sound is made
  }
}

void PlaybackEngine::Program::make_block() {
  const std::int64_t block_start = frame;
  mix.assign(BLOCK * PROGRAM_CHANNELS, 0.0f);
  // A device that has just opened takes silence until it plays steadily, so
  // no song's sound is held up in it.
  if (device && device_settling > 0) {
    if (device->playing()) device_settling -= BLOCK;
    device->push(mix.data(), BLOCK);
    return;
  }
  start_due(block_start);
  bool sounding = false;
  for (std::size_t i = 0; i < songs.size(); ++i) {
    Song& song = songs[i];
    if (song.start < 0 || song.done) continue;
    sounding = true;
    add_song(song, i + 1 < songs.size() ? &songs[i + 1] : nullptr, block_start);
    // A song that ends within the block hands over to the next in it.
    if (song.done) start_due(block_start);
  }
  float peak = 0;
  for (const float sample : mix) peak = std::max(peak, std::fabs(sample));
  silent = sounding && peak < SILENCE_LEVEL ? silent + BLOCK : 0;
  if (silent >= frames_of(DEAD_AIR_S)) {
    silent = 0;
    for (Song& song : songs) {
      if (song.start < 0 || song.done) continue;
      song.end_at = block_start + BLOCK;
      song.fault = "silent for " + std::to_string(static_cast<int>(DEAD_AIR_S)) + " s";
      break;
    }
  }
  frame += BLOCK;
  if (device) device->push(mix.data(), BLOCK);
  for (Stream& stream : streams) {
    if (stream.output) stream.output->push(mix.data(), BLOCK);
  }
}

void PlaybackEngine::Program::follow_device() {
  if (auto fault = device->poll()) return device_failed(*fault);
  const auto now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - device_followed).count();
  device_followed = now;
  const std::int64_t taken = device_taken();
  device_played = std::min(taken, device_played + frames_of(elapsed * DEVICE_RATE_SLACK));
  // Such a device takes whatever it is given at once: found before its
  // songs go by unheard.
  if (taken - device_played > frames_of(DEVICE_AHEAD_LIMIT_S)) device_failed("it does not play out what it takes");
}

void PlaybackEngine::Program::follow_outputs() {
  if (device) follow_device();
  // A device fault is the songs' own: it is told once there is a song to tell it for.
  if (device_broken && !device_error_told && !songs.empty()) {
    device_error_told = true;
    tell_now({EngineEvent::Kind::device_failed, songs.front().entry, device_error, {}});
  }
  const auto now = Clock::now();
  for (Stream& stream : streams) {
    const std::string address = stream_address(stream.target);
    if (stream.output) {
      if (auto fault = stream.output->poll()) {
        stream.output.reset();
        stream.retry_at = now + STREAM_RETRY;
        if (!stream.down_told) tell_now({EngineEvent::Kind::stream_down, 0, *fault, address});
        stream.up = false;
        stream.down_told = true;
        continue;
      }
      if (!stream.up && now - stream.started >= STREAM_SETTLED) {
        stream.up = true;
        stream.down_told = false;
        tell_now({EngineEvent::Kind::stream_up, 0, {}, address});
      }
      // Titles go with MP3 streams (Ogg carries its own); one request at a time.
      if (stream.up && !stream.target.opus && stream.title_sent != title && title_request_done(stream.title_request)) {
        stream.title_request = title_request(stream.target, title);
        stream.title_sent = title;
      }
    } else if (now >= stream.retry_at) {
      stream.output = std::make_unique<ProgramOutput>(stream_pipeline(stream.target), 2.0);
      if (GstElement* shout = stream.output->element("shout")) {
        g_object_set(shout, "ip", stream.target.host.c_str(), "port", stream.target.port, "mount",
                     stream.target.mount.c_str(), "password", stream.target.password.c_str(), nullptr);
        for (const auto& [property, text] : {std::pair{"streamname", &stream.target.name},
                                             {"description", &stream.target.description},
                                             {"genre", &stream.target.genre},
                                             {"url", &stream.target.url}}) {
          if (!text->empty()) g_object_set(shout, property, text->c_str(), nullptr);
        }
      }
      stream.title_sent.clear();
      stream.started = now;
      if (!stream.output->start()) {
        const std::string why = stream.output->error();
        stream.output.reset();
        stream.retry_at = now + STREAM_RETRY;
        if (!stream.down_told) tell_now({EngineEvent::Kind::stream_down, 0, why, address});
        stream.down_told = true;
      }
    }
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

void PlaybackEngine::Program::run() {
  while (!stopping) {
    bool made = false;
    {
      std::lock_guard hold(lock);
      follow_outputs();
      if (room()) {
        make_block();
        made = true;
      }
      release_due();
    }
    if (!made) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

PlaybackEngine::PlaybackEngine() : program_(std::make_unique<Program>()) {
  gstreamer_setup();
  program_->thread = std::thread([this] { program_->run(); });
}

PlaybackEngine::~PlaybackEngine() {
  program_->stopping = true;
  program_->thread.join();
}

bool PlaybackEngine::ready() const { return gst_is_initialized(); }

std::optional<std::int64_t> PlaybackEngine::append(const std::string& path, const SongCue& cue) {
  std::lock_guard hold(program_->lock);
  Song song;
  song.entry = program_->next_entry++;
  song.cue = cue;
  song.path = path;
  song.begin_s = std::max({0.0, cue.cue_in_s, cue.start_at_s});
  program_->songs.push_back(std::move(song));
  return program_->songs.back().entry;
}

void PlaybackEngine::skip() {
  std::lock_guard hold(program_->lock);
  Song* song = program_->on_air();
  // One whose end is made already (fading under the next) ends by itself.
  if (!song || song->done || song->end_told || song->end_at >= 0) return;
  song->end_fade = frames_of(SKIP_FADE_S);
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
  if (program_->device_broken) {
    program_->device_broken = false;
    program_->follow_time();
  }
}

void PlaybackEngine::use_device(const std::string& alsa_name) {
  std::lock_guard hold(program_->lock);
  Program& p = *program_;
  p.follow_time();
  p.device.reset();
  p.device_broken = false;
  if (alsa_name == NULL_DEVICE) return;
  p.device_played = 0;
  p.device_followed = Clock::now();
  p.device = std::make_unique<ProgramOutput>("audioconvert ! audioresample ! alsasink name=sink sync=false", 1.0);
  if (GstElement* sink = p.device->element("sink")) g_object_set(sink, "device", alsa_name.c_str(), nullptr);
  if (!p.device->start()) p.device_failed("audio output initialization failed");
  p.device_settling = frames_of(DEVICE_SETTLING_S);
}

void PlaybackEngine::set_crossfade(double seconds) {
  std::lock_guard hold(program_->lock);
  program_->crossfade_s = std::max(0.0, seconds);
}

void PlaybackEngine::set_streams(const std::vector<StreamTarget>& targets) {
  std::lock_guard hold(program_->lock);
  auto& streams = program_->streams;
  const bool same = streams.size() == targets.size() &&
                    std::equal(targets.begin(), targets.end(), streams.begin(),
                               [](const StreamTarget& t, const Stream& s) { return t == s.target; });
  if (same) return;
  streams.clear();
  for (const StreamTarget& target : targets) {
    Stream stream;
    stream.target = target;
    streams.push_back(std::move(stream));
  }
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
  return song ? song->begin_s + static_cast<double>(program_->heard() - song->start) / PROGRAM_RATE : 0;
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
