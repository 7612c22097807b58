#include "analysis_queue.h"

#include <algorithm>

namespace zv::player {

std::int64_t stored_size(std::int64_t size) { return std::max<std::int64_t>(size, 1); }

SongWork work_for(const StoredSong& song, const FileStamp& now, bool tags_kept) {
  if (now.size < 0) return {};
  const bool written = song.tagged && (song.tagged->first != now.size || song.tagged->second != now.modified_s());
  const bool unmeasured = song.size == 0 || song.size != stored_size(now.size);
  return {tags_kept && (!song.tagged || written), unmeasured || written};
}

bool AnalysisQueue::holds(const std::string& path) const {
  const auto same = [&](const AnalysisJob& job) { return job.path == path; };
  return due_in_progress_.count(path) || std::any_of(due_.begin(), due_.end(), same);
}

void AnalysisQueue::add(AnalysisJob job) {
  if (!job.work.any()) return;
  const auto same = [&](const AnalysisJob& other) { return other.path == job.path; };
  if (job.due) {
    // A song of the backlog that becomes due moves to the due songs.
    std::erase_if(backlog_, same);
    if (!holds(job.path)) due_.push_back(std::move(job));
    return;
  }
  if (holds(job.path) || backlog_in_progress_.count(job.path) || std::any_of(backlog_.begin(), backlog_.end(), same))
    return;
  backlog_.push_back(std::move(job));
}

void AnalysisQueue::first(const std::vector<std::string>& paths) {
  const auto rank = [&](const AnalysisJob& job) {
    return std::find(paths.begin(), paths.end(), job.path) - paths.begin();
  };
  std::stable_sort(due_.begin(), due_.end(),
                   [&](const AnalysisJob& a, const AnalysisJob& b) { return rank(a) < rank(b); });
}

std::optional<AnalysisJob> AnalysisQueue::take(bool due) {
  std::deque<AnalysisJob>& from = due ? due_ : backlog_;
  if (from.empty()) return std::nullopt;
  AnalysisJob job = std::move(from.front());
  from.pop_front();
  (due ? due_in_progress_ : backlog_in_progress_).insert(job.path);
  return job;
}

}  // namespace zv::player
