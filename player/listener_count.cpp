#include "listener_count.h"

#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>

namespace zv::player {

namespace {

// How often the listeners are read while nothing asks.
constexpr auto READ_INTERVAL = std::chrono::seconds(15);
// How long the server may take to answer.
constexpr int ANSWER_TIMEOUT_S = 3;
// Readings older than this are forgotten; no play lasts so long.
constexpr double KEPT_SECONDS = 6 * 3600;
// A reading this soon after a play began counts as its start.
constexpr double START_WITHIN_S = 5;
constexpr std::size_t MAX_STATUS_BYTES = 1 << 20;

double unix_time() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The scalar members of every object in a JSON text, each object as it is
// met; the members' texts unescaped only as far as the status needs.
class StatusObjects {
 public:
  explicit StatusObjects(const std::string& text) : text_(text) {}
  bool parse() {
    skip_space();
    return value(nullptr) && (skip_space(), at_ == text_.size());
  }
  std::vector<std::map<std::string, std::string>> objects;

 private:
  void skip_space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool string(std::string* out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    for (++at_; at_ < text_.size(); ++at_) {
      char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c == '\\' && ++at_ < text_.size()) c = text_[at_] == '/' ? '/' : text_[at_];
      if (out) *out += c;
    }
    return false;
  }
  bool value(std::string* scalar) {
    skip_space();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '"') return string(scalar);
    if (c == '{' || c == '[') return container(c == '{');
    const std::size_t begin = at_;
    while (at_ < text_.size() && !std::strchr(",}] \t\r\n", text_[at_])) ++at_;
    if (scalar) *scalar = text_.substr(begin, at_ - begin);
    return at_ > begin;
  }
  bool container(bool object) {
    const char close = object ? '}' : ']';
    ++at_;
    std::map<std::string, std::string> members;
    for (bool first = true;; first = false) {
      skip_space();
      if (at_ < text_.size() && text_[at_] == close && first) break;
      std::string key, scalar;
      if (object) {
        if (!string(&key)) return false;
        skip_space();
        if (at_ >= text_.size() || text_[at_++] != ':') return false;
      }
      if (!value(&scalar)) return false;
      if (object) members[key] = scalar;
      skip_space();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == close) break;
      return false;
    }
    ++at_;
    if (object) objects.push_back(std::move(members));
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

// The body of the server's status page; none when it does not answer with one.
std::optional<std::string> read_status(const std::string& host, int port) {
  GSocketClient* client = g_socket_client_new();
  g_socket_client_set_timeout(client, ANSWER_TIMEOUT_S);
  GSocketConnection* connection =
      g_socket_client_connect_to_host(client, host.c_str(), static_cast<guint16>(port), nullptr, nullptr);
  g_object_unref(client);
  if (!connection) return std::nullopt;
  const std::string request =
      "GET /status-json.xsl HTTP/1.0\r\nHost: " + host + ":" + std::to_string(port) + "\r\nConnection: close\r\n\r\n";
  std::string answer;
  if (g_output_stream_write_all(g_io_stream_get_output_stream(G_IO_STREAM(connection)), request.data(), request.size(),
                                nullptr, nullptr, nullptr)) {
    GInputStream* in = g_io_stream_get_input_stream(G_IO_STREAM(connection));
    char buffer[8192];
    for (gssize got; answer.size() < MAX_STATUS_BYTES &&
                     (got = g_input_stream_read(in, buffer, sizeof buffer, nullptr, nullptr)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  g_object_unref(connection);
  const auto body = answer.find("\r\n\r\n");
  if (!answer.starts_with("HTTP/1.") || answer.find(" 200 ") > answer.find("\r\n") || body == std::string::npos) {
    return std::nullopt;
  }
  return answer.substr(body + 4);
}

}  // namespace

std::optional<std::int64_t> mount_listeners(const std::string& status_json, const std::vector<std::string>& mounts) {
  StatusObjects status(status_json);
  if (!status.parse() || status_json.find("\"icestats\"") == std::string::npos) return std::nullopt;
  std::int64_t listeners = 0;
  for (const auto& object : status.objects) {
    const auto url = object.find("listenurl");
    const auto count = object.find("listeners");
    if (url == object.end() || count == object.end()) continue;
    for (const std::string& mount : mounts) {
      if (url->second.ends_with(mount)) listeners += std::max<std::int64_t>(0, std::atoll(count->second.c_str()));
    }
  }
  return listeners;
}

Audience audience_of(const std::deque<ListenerSample>& samples, double from, double to) {
  Audience audience;
  if (samples.empty() || to <= from) return audience;
  // The listeners at `time`: the last reading before it, or the first one
  // when it is before every reading.
  auto at = [&](double time) {
    std::int64_t listeners = samples.front().listeners;
    for (const ListenerSample& sample : samples) {
      if (sample.time > time) break;
      listeners = sample.listeners;
    }
    return listeners;
  };
  audience.at_start = at(from);
  for (const ListenerSample& sample : samples) {
    if (sample.time >= from && sample.time <= from + START_WITHIN_S) {
      audience.at_start = sample.listeners;
      break;
    }
  }
  audience.peak = std::max(audience.at_start, at(from));
  double seconds = 0, time = from;
  std::int64_t listeners = at(from);
  for (const ListenerSample& sample : samples) {
    if (sample.time <= from) continue;
    if (sample.time >= to) break;
    seconds += static_cast<double>(listeners) * (sample.time - time);
    time = sample.time;
    listeners = sample.listeners;
    audience.peak = std::max(audience.peak, listeners);
  }
  seconds += static_cast<double>(listeners) * (to - time);
  audience.listener_seconds = std::llround(seconds);
  return audience;
}

ListenerCount::ListenerCount() {
  worker_.start([this](std::unique_lock<std::mutex>& hold) { return work(hold); });
}

void ListenerCount::watch(const std::vector<StreamTarget>& streams) {
  {
    std::lock_guard hold(worker_.lock());
    if (streams == streams_) return;
    streams_ = streams;
    samples_.clear();  // counts of another server or mount say nothing of these
  }
  worker_.wake();
}

void ListenerCount::read_now() { worker_.wake(); }

std::optional<Audience> ListenerCount::audience(double from, double to) {
  std::lock_guard hold(worker_.lock());
  if (streams_.empty() || samples_.empty()) return std::nullopt;
  return audience_of(samples_, from, to);
}

BackgroundWorker::Clock::time_point ListenerCount::work(std::unique_lock<std::mutex>& hold) {
  const std::vector<StreamTarget> streams = streams_;
  if (streams.empty()) return BackgroundWorker::Clock::time_point::max();
  hold.unlock();
  // The mounts of one server are read from one status page.
  std::optional<std::int64_t> listeners;
  std::vector<std::string> mounts;
  for (const StreamTarget& stream : streams) mounts.push_back(stream.mount);
  if (const auto status = read_status(streams.front().host, streams.front().port)) {
    listeners = mount_listeners(*status, mounts);
  }
  const double now = unix_time();
  hold.lock();
  if (listeners && streams == streams_) {
    samples_.push_back({now, *listeners});
    while (samples_.size() > 2 && samples_[1].time < now - KEPT_SECONDS) samples_.pop_front();
  }
  return BackgroundWorker::Clock::now() + READ_INTERVAL;
}

}  // namespace zv::player
