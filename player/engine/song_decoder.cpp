#include "song_decoder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <chrono>
#include <cstring>
#include <mutex>

namespace zv::player {

namespace {

// A song that has not opened by then is taken for broken.
constexpr double OPEN_TIMEOUT_S = 10;
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
  std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

SongDecoder::SongDecoder(const std::string& path, double start_s) : start_s_(start_s), opened_at_(seconds_now()) {
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
  GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "rate", G_TYPE_INT, PROGRAM_RATE,
                                      "channels", G_TYPE_INT, PROGRAM_CHANNELS, "layout", G_TYPE_STRING, "interleaved",
                                      nullptr);
  g_object_set(format, "caps", caps, nullptr);
  gst_caps_unref(caps);
  // A few buffers ahead: enough to never keep the program waiting, little memory.
  g_object_set(sink_, "sync", FALSE, "max-buffers", 16u, "drop", FALSE, nullptr);
  gst_bin_add_many(GST_BIN(pipeline_), source, decode, convert, resample, format, sink_, nullptr);
  gst_element_link(source, decode);
  gst_element_link_many(convert, resample, format, sink_, nullptr);
  g_signal_connect(decode, "autoplug-select", G_CALLBACK(only_the_files_own_sound), nullptr);
  g_signal_connect(decode, "pad-added", G_CALLBACK(link_sound), convert);
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) fail("the file cannot be opened");
}

SongDecoder::~SongDecoder() {
  if (sample_) gst_sample_unref(static_cast<GstSample*>(sample_));
  if (pipeline_) {
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

std::size_t SongDecoder::read(float* out, std::size_t frames, bool& ended, double wait_s) {
  const double give_up = seconds_now() + wait_s;
  ended = false;
  if (status_ != Status::ready) {
    ended = status_ == Status::failed;
    return 0;
  }
  std::size_t done = 0;
  while (done < frames) {
    if (!sample_) {
      sample_ = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 20 * GST_MSECOND);
      sample_offset_ = 0;
      if (!sample_) {
        ended = gst_app_sink_is_eos(GST_APP_SINK(sink_));
        if (ended || seconds_now() >= give_up) break;
        continue;
      }
    }
    GstBuffer* buffer = gst_sample_get_buffer(static_cast<GstSample*>(sample_));
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
      gst_sample_unref(static_cast<GstSample*>(sample_));
      sample_ = nullptr;
      continue;
    }
    const std::size_t available = map.size / (sizeof(float) * PROGRAM_CHANNELS);
    const std::size_t take = std::min(frames - done, available - std::min(available, sample_offset_));
    std::memcpy(out + done * PROGRAM_CHANNELS,
                reinterpret_cast<const float*>(map.data) + sample_offset_ * PROGRAM_CHANNELS,
                take * PROGRAM_CHANNELS * sizeof(float));
    gst_buffer_unmap(buffer, &map);
    done += take;
    sample_offset_ += take;
    if (sample_offset_ >= available) {
      gst_sample_unref(static_cast<GstSample*>(sample_));
      sample_ = nullptr;
    }
  }
  return done;
}

}  // namespace zv::player
