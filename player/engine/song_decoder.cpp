#include "song_decoder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <utility>

namespace zv::player {

namespace {

// A song that has not opened by then is taken for broken.
constexpr double OPEN_TIMEOUT_S = 10;
constexpr unsigned DECODED_AHEAD_BUFFERS = 256;
// What the decoder made is taken a second at a time: its thread, held while
// the buffers are full, is then woken about once a second rather than for
// every buffer read.
constexpr double TAKEN_AT_ONCE_S = 1;
// decodebin's answers to autoplug-select.
constexpr int AUTOPLUG_TRY = 0;
constexpr int AUTOPLUG_SKIP = 2;

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Elements that reach past the file itself (adaptive streams, playlists,
// network sources and demuxers that fetch what they describe) are never
// chosen: a music file plays its own sound or nothing.
int only_the_files_own_sound(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory, gpointer) {
  const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
  const std::string k = klass ? klass : "";
  for (const char* reaching : {"Adaptive", "Network", "Source", "Playlist", "Sink"}) {
    if (k.find(reaching) != std::string::npos) return AUTOPLUG_SKIP;
  }
  if (gst_element_factory_get_uri_type(factory) != GST_URI_UNKNOWN) return AUTOPLUG_SKIP;
  return AUTOPLUG_TRY;
}

void link_sound(GstElement*, GstPad* pad, gpointer convert) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const bool sound = caps && std::strncmp(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/", 6) == 0;
  if (caps) gst_caps_unref(caps);
  if (!sound) return;
  GstPad* into = gst_element_get_static_pad(static_cast<GstElement*>(convert), "sink");
  if (!gst_pad_is_linked(into)) gst_pad_link(pad, into);
  gst_object_unref(into);
}

}  // namespace

void gstreamer_setup() {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_init(nullptr, nullptr);
    // GStreamer decodes on threads of GLib's shared pool, which all take the
    // priority of the thread that first made a pool, whatever they decode
    // later. Made here, at the player's own priority, the song on air is
    // never decoded behind all other work because a low-priority measure of
    // the backlog, or a real-time output, made the pool first.
    GThreadPool* first = g_thread_pool_new([](gpointer, gpointer) {}, nullptr, 1, FALSE, nullptr);
    if (first) g_thread_pool_free(first, FALSE, TRUE);
  });
}

SongDecoder::SongDecoder(const std::string& path, double start_s, std::function<void()> wake, int rate)
    : start_s_(start_s), rate_(rate), opened_at_(seconds_now()), wake_(std::move(wake)) {
  gstreamer_setup();
  pipeline_ = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  GstElement* decode = gst_element_factory_make("decodebin", nullptr);
  GstElement* convert = convert_ = gst_element_factory_make("audioconvert", nullptr);
  GstElement* resample = gst_element_factory_make("audioresample", nullptr);
  GstElement* format = gst_element_factory_make("capsfilter", nullptr);
  sink_ = gst_element_factory_make("appsink", nullptr);
  if (!source || !decode || !convert || !resample || !format || !sink_) {
    fail("GStreamer lacks the elements to decode songs");
    return;
  }
  g_object_set(source, "location", path.c_str(), nullptr);
  GstCaps* caps =
      gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "rate", G_TYPE_INT, rate, "channels",
                          G_TYPE_INT, PROGRAM_CHANNELS, "layout", G_TYPE_STRING, "interleaved", nullptr);
  g_object_set(format, "caps", caps, nullptr);
  gst_caps_unref(caps);
  // Seconds ahead of the program (buffers of about 20 ms), a few MB at most.
  g_object_set(sink_, "sync", FALSE, "max-buffers", DECODED_AHEAD_BUFFERS, "drop", FALSE, nullptr);
  GstAppSinkCallbacks callbacks{};
  callbacks.eos = [](GstAppSink*, gpointer self) { sound_arrived(self); };
  callbacks.new_sample = [](GstAppSink*, gpointer self) {
    sound_arrived(self);
    return GST_FLOW_OK;
  };
  gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
  gst_bin_add_many(GST_BIN(pipeline_), source, decode, convert, resample, format, sink_, nullptr);
  gst_element_link(source, decode);
  gst_element_link_many(convert, resample, format, sink_, nullptr);
  g_signal_connect(decode, "autoplug-select", G_CALLBACK(only_the_files_own_sound), nullptr);
  g_signal_connect(decode, "pad-added", G_CALLBACK(link_sound), convert);
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) fail("the file cannot be opened");
}

SongDecoder::~SongDecoder() {
  if (pipeline_) {  // its threads end here, before the callbacks' decoder goes
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }
}

void SongDecoder::fail(std::string why) {
  if (status_ == Status::failed) return;
  status_ = Status::failed;
  error_ = std::move(why);
}

SongDecoder::Status SongDecoder::status() {
  if (status_ == Status::failed || !pipeline_) return status_;
  GstBus* bus = gst_element_get_bus(pipeline_);
  while (GstMessage* message = gst_bus_pop(bus)) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      fail(error ? error->message : "the file cannot be decoded");
      if (error) g_error_free(error);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE && status_ == Status::opening) {
      if (!seeking_) {
        gint64 length = 0;
        if (gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &length) && length > 0) {
          duration_ = static_cast<double>(length) / GST_SECOND;
        }
        GstPad* pad = gst_element_get_static_pad(convert_, "sink");
        const bool has_sound = gst_pad_is_linked(pad);
        gst_object_unref(pad);
        if (!has_sound) {
          fail("the file has no sound");
        } else if (start_s_ > 0 &&
                   gst_element_seek_simple(pipeline_, GST_FORMAT_TIME,
                                           static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                           static_cast<gint64>(start_s_ * GST_SECOND))) {
          seeking_ = true;
        } else {
          status_ = Status::ready;
        }
      } else {
        status_ = Status::ready;
      }
      if (status_ == Status::ready) gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    }
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  if (status_ == Status::opening && seconds_now() - opened_at_ > OPEN_TIMEOUT_S) fail("the file did not open in time");
  return status_;
}

void SongDecoder::sound_arrived(void* self) {
  auto* decoder = static_cast<SongDecoder*>(self);
  if (decoder->wanted_.exchange(false) && decoder->wake_) decoder->wake_();
}

bool SongDecoder::pull(unsigned long long wait_ns) {
  GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), wait_ns);
  if (!sample) {
    ended_ = gst_app_sink_is_eos(GST_APP_SINK(sink_));
    return false;
  }
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    if (taken_ > 0 && taken_ >= pending_.size() / 2) {  // what was read goes before the buffer grows
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken_));
      taken_ = 0;
    }
    const auto* frames = reinterpret_cast<const float*>(map.data);
    pending_.insert(pending_.end(), frames, frames + map.size / sizeof(float));
    gst_buffer_unmap(buffer, &map);
  }
  gst_sample_unref(sample);
  return true;
}

void SongDecoder::take_decoded(std::size_t frames) {
  if (buffered() >= frames) return;
  const auto enough = frames + static_cast<std::size_t>(TAKEN_AT_ONCE_S * rate_);
  while (buffered() < enough && !ended_ && pull(0)) {
  }
}

bool SongDecoder::has(std::size_t frames) {
  if (status() != Status::ready) return status_ == Status::failed;
  take_decoded(frames);
  if (buffered() >= frames || ended_) return true;
  wanted_ = true;
  // A buffer that arrived between the last pull and the wish is taken now.
  take_decoded(frames);
  return buffered() >= frames || ended_;
}

std::size_t SongDecoder::read(float* out, std::size_t frames, bool& ended) { return read(out, frames, ended, 0); }

std::size_t SongDecoder::read(float* out, std::size_t frames, bool& ended, double wait_s) {
  const double give_up = seconds_now() + wait_s;
  ended = false;
  if (status_ != Status::ready) {
    ended = status_ == Status::failed;
    return 0;
  }
  take_decoded(frames);
  while (buffered() < frames && !ended_) {
    const double left = give_up - seconds_now();
    if (!pull(left > 0 ? static_cast<unsigned long long>(left * GST_SECOND) : 0) && (ended_ || left <= 0)) break;
  }
  const std::size_t take = std::min(frames, buffered());
  std::memcpy(out, pending_.data() + taken_, take * PROGRAM_CHANNELS * sizeof(float));
  taken_ += take * PROGRAM_CHANNELS;
  ended = ended_ && buffered() == 0;
  return take;
}

}  // namespace zv::player
