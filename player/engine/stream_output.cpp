#include "stream_output.h"

#include <gst/gst.h>

#include <cctype>
#include <utility>
#include <vector>

#include "program_source.h"

namespace zv::player {

namespace {

constexpr auto RETRY = std::chrono::seconds(5);
// A stream that has taken the program this long without a fault is up.
constexpr auto SETTLED = std::chrono::seconds(2);
constexpr auto FOLLOW_EVERY = std::chrono::milliseconds(500);
constexpr double MOST_HELD_S = 2;

// The streams' rate, that of Opus and of the fallback silence (station/icecast-config).
constexpr int STREAM_RATE = PROGRAM_RATE;
// A stalled server holds up this much of the stream before the newest is dropped.
constexpr std::size_t MOST_HELD_BYTES = 512 * 1024;

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
  const std::string url = "http://" + target.host + ":" + std::to_string(target.port) +
                          "/admin/metadata?mount=" + percent_encoded(target.mount) +
                          "&mode=updinfo&charset=UTF-8&song=" + percent_encoded(title);
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

std::string stream_encoder(const StreamTarget& target) {
  const std::string encode = target.opus
                                 ? "opusenc name=encode bitrate=" + std::to_string(target.kbps * 1000) + " ! oggmux"
                                 : "lamemp3enc target=bitrate cbr=true bitrate=" + std::to_string(target.kbps);
  // Always at one rate, whatever the card's, as Icecast's fallback silence
  // is: a listener's decoder that meets another rate within the stream, at
  // a restart, may go on at the wrong pitch or stop.
  return "audioconvert ! audioresample ! audio/x-raw,rate=" + std::to_string(STREAM_RATE) + " ! " + encode +
         " ! appsink name=encoded sync=false";
}

StreamOutput::StreamOutput(StreamTarget target, std::shared_ptr<EngineWake> wake, int rate)
    : target_(std::move(target)), wake_(std::move(wake)), rate_(rate) {}

StreamOutput::~StreamOutput() {
  ProgramOutput::close(std::move(pipeline_));
  ProgramOutput::close(std::move(encoder_));
  ProgramOutput::close(std::move(finishing_));
  if (title_request_) {
    gst_element_set_state(title_request_, GST_STATE_NULL);
    gst_object_unref(title_request_);
  }
}

std::string StreamOutput::address() const {
  return "icecast://" + target_.host + ":" + std::to_string(target_.port) + target_.mount;
}

void StreamOutput::set_title(const std::string& title, const std::string& artist, const std::string& song) {
  const bool new_song = artist != artist_ || song != song_;
  title_ = title;
  artist_ = artist;
  song_ = song;
  // An Ogg stream's comments come at its start: the song's stream begins here.
  if (new_song && target_.opus && encoder_) {
    ProgramOutput::close(std::move(finishing_));  // one that has not ended within a song is cut short
    finishing_ = std::move(encoder_);
    finishing_->end();
    start_encoder();
  }
}

void StreamOutput::start_encoder() {
  encoder_ = ProgramOutput::make(stream_encoder(target_), rate_, MOST_HELD_S);
  if (GstElement* encode = encoder_->element("encode")) {
    GstTagList* tags = gst_tag_list_new_empty();
    if (!artist_.empty()) gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_ARTIST, artist_.c_str(), nullptr);
    if (!song_.empty()) gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, song_.c_str(), nullptr);
    gst_tag_setter_merge_tags(GST_TAG_SETTER(encode), tags, GST_TAG_MERGE_REPLACE);
    gst_tag_list_unref(tags);
  }
  encoder_->start([] {});
}

void StreamOutput::push(const float* frames, std::size_t count) {
  if (!pipeline_ || pipeline_->state() != ProgramOutput::State::playing) return;
  encoder_->push(frames, count);
  send_encoded();
}

// What the encoders made since the program came last: the song before's last
// pages first, then the song on air's.
void StreamOutput::send_encoded() {
  if (finishing_) {
    if (GstBuffer* pages = finishing_->take_encoded()) pipeline_->push_encoded(pages);
    if (!finishing_->encoded_all()) return;
    ProgramOutput::close(std::move(finishing_));
  }
  if (GstBuffer* encoded = encoder_->take_encoded()) pipeline_->push_encoded(encoded);
}

void StreamOutput::fail(const std::string& why, EngineClock::time_point now, std::vector<EngineEvent>& told) {
  ProgramOutput::close(std::move(pipeline_));
  ProgramOutput::close(std::move(encoder_));
  ProgramOutput::close(std::move(finishing_));
  pipeline_.reset();
  retry_at_ = now + RETRY;
  up_ = false;
  if (!down_told_) told.push_back({EngineEvent::Kind::stream_down, 0, why, address()});
  down_told_ = true;
}

void StreamOutput::follow(EngineClock::time_point now, std::vector<EngineEvent>& told) {
  if (!pipeline_) {
    if (now < retry_at_) return;
    pipeline_ = ProgramOutput::make_encoded(target_.opus ? "application/ogg" : "audio/mpeg,mpegversion=1,layer=3",
                                            "shout2send name=shout sync=false", MOST_HELD_BYTES);
    start_encoder();
    if (GstElement* shout = pipeline_->element("shout")) {
      g_object_set(shout, "ip", target_.host.c_str(), "port", target_.port, "mount", target_.mount.c_str(), "password",
                   target_.password.c_str(), nullptr);
      for (const auto& [property, text] : {std::pair{"streamname", &target_.name},
                                           {"description", &target_.description},
                                           {"genre", &target_.genre},
                                           {"url", &target_.url}}) {
        if (!text->empty()) g_object_set(shout, property, text->c_str(), nullptr);
      }
    }
    title_sent_.clear();
    started_ = now;
    retry_at_ = now + RETRY;
    pipeline_->start([wake = wake_] { wake->wake(); });  // connecting waits on the server
    return;
  }
  if (pipeline_->state() == ProgramOutput::State::starting) {
    if (now >= retry_at_) fail("the server does not answer", now, told);
    return;
  }
  auto fault = pipeline_->poll();
  if (!fault) fault = encoder_->poll();
  if (fault) {
    // Icecast answers a source password it refuses with 401, which the shout
    // library reports as a failed login: the operator is told which it is.
    if (fault->find("Login failed") != std::string::npos) {
      fault = "Icecast refused the source password for " + target_.mount;
    }
    return fail(*fault, now, told);
  }
  if (!up_ && now - started_ >= SETTLED) {
    up_ = true;
    down_told_ = false;
    told.push_back({EngineEvent::Kind::stream_up, 0, {}, address()});
  }
  // Titles go with MP3 streams (Ogg carries its own); one request at a time.
  if (up_ && !target_.opus && title_sent_ != title_ && title_request_done(title_request_)) {
    title_request_ = title_request(target_, title_);
    title_sent_ = title_;
  }
}

EngineClock::time_point StreamOutput::next_follow(EngineClock::time_point now) const {
  if (!pipeline_) return retry_at_;
  return now + FOLLOW_EVERY;
}

}  // namespace zv::player
