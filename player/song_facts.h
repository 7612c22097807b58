#pragma once
// What the library knows of each song's sound, for the engine: its gain,
// cue points and whether its folder is faded. On a thread of its own with
// an ODBC connection of its own, it measures every song not yet measured,
// one after another, and stores the results in the song's columns
// (replay_gain, sec_count, sm_fade_in, sm_fade_out, file_size), so neither
// playback nor the server ever waits for it. Each song's tags are read there
// too, before the measures, and again when its file changes (song_tags).

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "library/query.h"

namespace zv::player {

struct SongFacts {
  double replay_gain = 0;        // dB to REFERENCE_LUFS
  std::int32_t fade_in_ms = 0;   // where sound begins
  std::int32_t fade_out_ms = 0;  // where it ends; 0: not measured
  bool fades = true;             // false in advertising and jingle folders
  std::string artist{}, title{};  // from its tags; empty when it has none
};

class SongFactsWorker {
 public:
  SongFactsWorker();
  ~SongFactsWorker();
  SongFactsWorker(const SongFactsWorker&) = delete;
  SongFactsWorker& operator=(const SongFactsWorker&) = delete;

  // What is known of the song at `path` now; none when the library was not read yet.
  std::optional<SongFacts> facts(const std::string& path) const;
  // Reads the library again soon (songs imported since).
  void refresh();

 private:
  void run();
  bool read_library();
  void measure_next();
  void tag_next();
  void read_tags(const std::string& path, std::int32_t id);

  mutable std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false, refresh_ = true;
  std::map<std::string, SongFacts> facts_;
  std::map<std::string, std::int32_t> unmeasured_;  // path -> song_id
  std::set<std::string> unmeasurable_;              // tried once this run
  std::map<std::string, std::int32_t> untagged_;    // path -> song_id: no tags read, or its file changed since
  LibraryConnection library_;                       // used from the worker's thread only
  std::thread thread_;
};

}  // namespace zv::player
