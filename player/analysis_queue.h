#pragma once
// Which songs are read and measured next, and what each needs: the songs due
// soon first, in the order they play, then the library's backlog (songs not
// measured or tagged yet, or whose file changed since). The queue is only
// data, so its order can be tested without a library or a file.

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "facts_cache.h"
#include "file_stamp.h"

namespace zv::player {

// What the library holds of a song for deciding its work.
struct StoredSong {
  std::int32_t id = 0;
  std::int64_t size = 0;  // file_size: 0 while not measured
  // song_tags' file_size and file_mtime (seconds); none without a row.
  std::optional<std::pair<std::int64_t, std::int64_t>> tagged{};
};

struct SongWork {
  bool tags = false;     // read its tags (again)
  bool measure = false;  // measure it (again): the facts stored do not hold
  bool any() const { return tags || measure; }
};

// file_size holds at least 1 for a song measured.
std::int64_t stored_size(std::int64_t size);

// The work a song needs for its file as `now`. A file whose tags were read
// when it was other than it is now was written since: its measures do not
// hold either. A missing file needs none (it fails when its turn comes).
SongWork work_for(const StoredSong& song, const FileStamp& now, bool tags_kept);

struct AnalysisJob {
  std::string path;
  std::optional<std::int32_t> id;  // none: not in the library
  SongWork work;
  SongFacts known;  // what is known of it already (its folder, its tags)
  bool due = false;
};

class AnalysisQueue {
 public:
  // A job is taken only once, and not while the same song's is in progress
  // at the same priority.
  void add(AnalysisJob job);
  // The songs due soon among the due jobs go first, in this order.
  void first(const std::vector<std::string>& paths);
  // With `due`, the first due job; else the first of the backlog. The
  // backlog's analysers run behind everything else and may be starved on a
  // busy machine, so a song due is never left to them: one due while its
  // backlog measure runs is taken again as due.
  std::optional<AnalysisJob> take(bool due);
  void done(const AnalysisJob& job) { (job.due ? due_in_progress_ : backlog_in_progress_).erase(job.path); }
  // Whether the song is due or in progress as due (not only in the backlog).
  bool holds(const std::string& path) const;
  std::size_t backlog() const { return backlog_.size(); }
  bool has_due() const { return !due_.empty(); }

 private:
  std::deque<AnalysisJob> due_, backlog_;
  std::set<std::string> due_in_progress_, backlog_in_progress_;
};

}  // namespace zv::player
