#pragma once
// What is known of each song's sound, for the engine: its gain, cue points
// and whether its folder is faded. The facts of a song are looked up in the
// library, by its name, when it is due; those of the songs asked for lately
// are kept (a bounded number), so the player's memory does not grow with the
// library. A song not measured yet, or whose file was written since its tags
// and measures were taken (song_tags keeps the file's size and time), is
// read and measured before it plays; the songs due soon first, on a thread of
// their own, then the library's backlog, a page at a time, on a thread per
// processor core behind all other work. Results are stored in the song's
// columns (replay_gain, sec_count, sm_fade_in, sm_fade_out, file_size) and its
// row of song_tags, so neither playback nor the server ever waits for them.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "analysis_queue.h"
#include "background_worker.h"
#include "facts_cache.h"
#include "library/query.h"
#include "loudness_analysis.h"
#include "song_tags.h"

namespace zv::player {

class SongFactsWorker {
 public:
  // `analysers` read and measure the backlog; 0: one per processor core.
  explicit SongFactsWorker(unsigned analysers = 0);
  ~SongFactsWorker();

  // The facts of the file at `path` as it is now; none while they are not
  // known yet (it is then looked up, and measured when it must be, before
  // anything else).
  std::optional<SongFacts> facts(const std::string& path);
  // Songs due soon, the first soonest: looked up and measured ahead of the others.
  void ahead(const std::vector<std::string>& paths);

 private:
  // A job done by an analyser, for the library thread to store.
  struct Result {
    AnalysisJob job;
    FileStamp stamp;
    std::optional<SongTags> tags;
    std::optional<SongMeasure> measure;  // none: it holds no sound (or is missing)
  };

  BackgroundWorker::Clock::time_point work(std::unique_lock<std::mutex>& hold);
  void analyse(bool due);
  void want(const std::string& path);
  AnalysisJob look_up(const std::string& path, const FileStamp& stamp);
  void store(Result& result);
  bool read_page();

  // Under the worker's lock.
  FactsCache cache_;
  std::deque<std::string> wanted_;  // to look up, the first soonest
  std::vector<std::string> due_;    // due soon, the first soonest
  AnalysisQueue queue_;
  std::deque<Result> results_;        // from the analysers, to store
  std::set<std::int32_t> soundless_;  // held no sound this run: not tried again in the backlog
  bool ending_ = false;
  std::condition_variable analysis_wake_;

  // The library thread's own.
  LibraryConnection connection_;
  bool tags_kept_ = true;  // the library has song_tags
  bool unreachable_said_ = false;
  std::int32_t page_after_ = 0;  // the backlog's place in the song table
  BackgroundWorker::Clock::time_point page_at_{}, full_pass_at_{};

  std::vector<std::thread> analysers_;
  BackgroundWorker worker_;  // last: its thread ends before what it works on
};

}  // namespace zv::player
