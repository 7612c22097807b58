#include "program_output.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/thread.h"
#include "song_decoder.h"

namespace zv::player {

namespace {

constexpr GstClockTime DRAIN_TIMEOUT_S = 2;

}  // namespace

std::shared_ptr<ProgramOutput> ProgramOutput::make(const std::string& after_source, int rate, double max_seconds,
                                                   double need_seconds, std::function<void()> need, bool real_time) {
  gstreamer_setup();
  std::shared_ptr<ProgramOutput> output(new ProgramOutput(rate));
  GError* error = nullptr;
  output->pipeline_ = gst_parse_launch(("appsrc name=program ! " + after_source).c_str(), &error);
  if (error) {
    output->start_error_ = error->message;
    output->state_ = State::failed;
    g_error_free(error);
    if (output->pipeline_) gst_object_unref(output->pipeline_);
    output->pipeline_ = nullptr;
    return output;
  }
  output->source_ = gst_bin_get_by_name(GST_BIN(output->pipeline_), "program");  // held until the end
  output->encoded_ = gst_bin_get_by_name(GST_BIN(output->pipeline_), "encoded");
  GstCaps* caps =
      gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "rate", G_TYPE_INT, rate, "channels",
                          G_TYPE_INT, PROGRAM_CHANNELS, "layout", G_TYPE_STRING, "interleaved", nullptr);
  // An output that falls behind drops the newest program rather than hold up the others.
  g_object_set(output->source_, "caps", caps, "format", GST_FORMAT_TIME, "block", FALSE, "max-bytes",
               static_cast<guint64>(max_seconds * output->bytes_per_second()), "leaky-type", 1 /* upstream */, nullptr);
  gst_caps_unref(caps);
  if (need_seconds > 0 && need) {
    output->need_ = std::move(need);
    g_object_set(output->source_, "min-percent",
                 static_cast<guint>(std::clamp(100 * need_seconds / max_seconds, 1.0, 99.0)), nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = [](GstAppSrc*, guint, gpointer need) { (*static_cast<std::function<void()>*>(need))(); };
    gst_app_src_set_callbacks(GST_APP_SRC(output->source_), &callbacks, &output->need_, nullptr);
  }
  if (real_time) {
    // Each of its threads raises itself as it begins, and lowers itself as it
    // leaves: GStreamer's threads go back to a pool shared with the decoders.
    GstBus* bus = gst_element_get_bus(output->pipeline_);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer) {
          GstStreamStatusType type;
          GstElement* owner = nullptr;
          if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_STREAM_STATUS) {
            gst_message_parse_stream_status(message, &type, &owner);
            if (type == GST_STREAM_STATUS_TYPE_ENTER) run_in_real_time();
            if (type == GST_STREAM_STATUS_TYPE_LEAVE) run_at_normal_priority();
          }
          return GST_BUS_PASS;
        },
        nullptr, nullptr);
    gst_object_unref(bus);
  }
  return output;
}

std::shared_ptr<ProgramOutput> ProgramOutput::make_encoded(const std::string& caps_text,
                                                           const std::string& after_source, std::size_t max_bytes) {
  auto output = make(after_source, PROGRAM_RATE, 1);
  if (output->source_) {
    GstCaps* caps = gst_caps_from_string(caps_text.c_str());
    g_object_set(output->source_, "caps", caps, "max-bytes", static_cast<guint64>(max_bytes), nullptr);
    gst_caps_unref(caps);
  }
  return output;
}

double ProgramOutput::bytes_per_second() const { return static_cast<double>(rate_) * PROGRAM_CHANNELS * sizeof(float); }

ProgramOutput::~ProgramOutput() {
  if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_NULL);
  if (source_) gst_object_unref(source_);
  if (encoded_) gst_object_unref(encoded_);
  if (pipeline_) gst_object_unref(pipeline_);
}

void ProgramOutput::close(std::shared_ptr<ProgramOutput> output, bool drain) {
  if (!output) return;
  std::thread([output = std::move(output), drain]() mutable {
    if (drain && output->source_ && output->state_ == State::playing) {
      gst_app_src_end_of_stream(GST_APP_SRC(output->source_));
      GstBus* bus = gst_element_get_bus(output->pipeline_);
      GstMessage* end = gst_bus_timed_pop_filtered(bus, DRAIN_TIMEOUT_S * GST_SECOND,
                                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
      if (end) gst_message_unref(end);
      gst_object_unref(bus);
    }
    output.reset();
  }).detach();
}

GstElement* ProgramOutput::element(const char* name) const {
  if (!pipeline_) return nullptr;
  GstElement* found = gst_bin_get_by_name(GST_BIN(pipeline_), name);
  if (found && found != source_) gst_object_unref(found);  // the pipeline keeps it alive
  return found;
}

void ProgramOutput::start(std::function<void()> done) {
  if (!pipeline_) {
    done();
    return;
  }
  std::thread([self = shared_from_this(), done = std::move(done)] {
    if (gst_element_set_state(self->pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      std::string why = self->poll().value_or("");
      self->start_error_ = why.empty() ? "it cannot be started" : why;
      self->state_ = State::failed;
    } else {
      self->state_ = State::playing;
    }
    done();
  }).detach();
}

bool ProgramOutput::playing() const {
  GstState state = GST_STATE_NULL;
  return pipeline_ && state_ == State::playing &&
         gst_element_get_state(pipeline_, &state, nullptr, 0) == GST_STATE_CHANGE_SUCCESS && state == GST_STATE_PLAYING;
}

void ProgramOutput::push(const float* frames, std::size_t count) {
  if (!source_) return;
  const std::size_t bytes = count * PROGRAM_CHANNELS * sizeof(float);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  gst_buffer_fill(buffer, 0, frames, bytes);
  // Timed by its place in the program: Ogg pages are made by time.
  GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(pushed_, GST_SECOND, rate_);
  GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(count, GST_SECOND, rate_);
  pushed_ += count;
  gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
}

void ProgramOutput::push_encoded(GstBuffer* buffer) {
  if (source_) {
    gst_app_src_push_buffer(GST_APP_SRC(source_), buffer);
  } else {
    gst_buffer_unref(buffer);
  }
}

GstBuffer* ProgramOutput::take_encoded() {
  if (!encoded_) return nullptr;
  GstBuffer* all = nullptr;
  while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(encoded_), 0)) {
    if (GstBuffer* buffer = gst_sample_get_buffer(sample)) {
      all = all ? gst_buffer_append(all, gst_buffer_ref(buffer)) : gst_buffer_copy(buffer);
    }
    gst_sample_unref(sample);
  }
  // Headers and pages together are one stretch of the stream to the sender.
  if (all) GST_BUFFER_FLAG_UNSET(all, GST_BUFFER_FLAG_HEADER | GST_BUFFER_FLAG_DELTA_UNIT);
  return all;
}

void ProgramOutput::end() {
  if (source_) gst_app_src_end_of_stream(GST_APP_SRC(source_));
}

bool ProgramOutput::encoded_all() const { return !encoded_ || gst_app_sink_is_eos(GST_APP_SINK(encoded_)); }

double ProgramOutput::queued_seconds() const {
  if (!source_) return 0;
  return static_cast<double>(gst_app_src_get_current_level_bytes(GST_APP_SRC(source_))) / bytes_per_second();
}

std::optional<std::string> ProgramOutput::poll() {
  if (state_ == State::failed) return start_error_;
  if (!pipeline_) return std::nullopt;
  GstBus* bus = gst_element_get_bus(pipeline_);
  std::optional<std::string> fault;
  while (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
    GError* error = nullptr;
    gchar* detail = nullptr;
    gst_message_parse_error(message, &error, &detail);
    // The first error is the cause; the ones after it follow from it.
    if (!fault) {
      fault = error ? error->message : "it failed";
      // GStreamer's detail says what the short message does not (a refused connection, a wrong password).
      if (detail) *fault += std::string(" ") + (std::strrchr(detail, ':') ? std::strrchr(detail, ':') + 1 : detail);
    }
    if (error) g_error_free(error);
    g_free(detail);
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  return fault;
}

}  // namespace zv::player
