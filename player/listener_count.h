#pragma once
// Who listens: the listeners of the station's mounts, read from its Icecast
// server's status (status-json.xsl) on a thread of its own, every 15 s and
// when asked (at each song's start and end), so that each play on record
// keeps who heard it. Playback never waits for the server.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "background_worker.h"
#include "play_counts.h"
#include "playback_engine.h"

namespace zv::player {

// One reading of the listeners, at `time` (seconds since 1970).
struct ListenerSample {
  double time = 0;
  std::int64_t listeners = 0;
};

// The listeners of `mounts` ("/stream.mp3") together, as Icecast's status
// JSON gives them; none when the text is not such a status.
std::optional<std::int64_t> mount_listeners(const std::string& status_json, const std::vector<std::string>& mounts);

// Who heard what played from `from` to `to`, the listeners counted as each
// reading found them until the next one.
Audience audience_of(const std::deque<ListenerSample>& samples, double from, double to);

class ListenerCount {
 public:
  ListenerCount();

  // The streams to count the listeners of (none: no stream, no listeners).
  void watch(const std::vector<StreamTarget>& streams);
  // Reads the listeners again now.
  void read_now();
  // Who heard what played from `from` to `to` (seconds since 1970); none
  // while the stream is off or its server has not answered.
  std::optional<Audience> audience(double from, double to);

 private:
  BackgroundWorker::Clock::time_point work(std::unique_lock<std::mutex>& hold);

  std::vector<StreamTarget> streams_;
  std::deque<ListenerSample> samples_;  // the last hours' readings, oldest first
  BackgroundWorker worker_;             // last: its thread ends before what it works on
};

}  // namespace zv::player
