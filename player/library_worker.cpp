#include "library_worker.h"

#include <chrono>
#include <cstdio>

#include "library/query.h"
#include "platform/time_limits.h"
#include "schedule_fill.h"

namespace zv::player {

namespace {

// How long records wait before the library is tried again (as time_limit() gives it).
constexpr auto RETRY_INTERVAL = std::chrono::seconds(2);

}  // namespace

LibraryWorker::LibraryWorker(const std::filesystem::path& pending_file) : pending_(pending_file) {
  worker_.start([this](std::unique_lock<std::mutex>& hold) { return work(hold); });
}

void LibraryWorker::record(Recorded record) {
  {
    std::lock_guard hold(worker_.lock());
    if (!pending_.add(std::move(record))) std::printf("The plays waiting for the library could not be saved\n");
  }
  worker_.wake();
}

void LibraryWorker::request_songs(RecentPlays recent, std::int64_t now, const ComingHour& hour) {
  {
    std::lock_guard hold(worker_.lock());
    song_request_ = SongRequest{std::move(recent), now, hour};
  }
  worker_.wake();
}

std::optional<std::vector<QueuedSong>> LibraryWorker::take_songs() {
  std::lock_guard hold(worker_.lock());
  auto songs = std::move(songs_);
  songs_.reset();
  return songs;
}

BackgroundWorker::Clock::time_point LibraryWorker::work(std::unique_lock<std::mutex>& hold) {
  if (song_request_) {
    const SongRequest request = std::move(*song_request_);
    song_request_.reset();
    hold.unlock();
    auto songs = hour_songs(request.recent, request.now, request.hour);
    close_library();  // a library put back or replaced meanwhile is the one used next
    hold.lock();
    songs_ = std::move(songs);
    return BackgroundWorker::Clock::now();
  }
  if (!pending_.empty()) {
    record_pending(hold);
    hold.unlock();
    close_library();
    hold.lock();
  }
  if (song_request_) return BackgroundWorker::Clock::now();
  if (pending_.empty() || !unreachable_) return BackgroundWorker::Clock::time_point::max();
  return BackgroundWorker::Clock::now() + time_limit(RETRY_INTERVAL);
}

// Puts the waiting records in the library in the order they came, until the
// library cannot be reached; the lock is held only between records.
void LibraryWorker::record_pending(std::unique_lock<std::mutex>& hold) {
  while (!pending_.empty() && !worker_.stopping() && !song_request_) {
    const Recorded next = pending_.front();
    hold.unlock();
    const auto* play = std::get_if<PlayRecord>(&next);
    const CountResult result = play ? count_play(*play) : record_fault(std::get<FaultRecord>(next));
    hold.lock();
    if (result == CountResult::unreachable) {
      if (!unreachable_) {
        std::printf("Library unreachable: %zu play counts kept until it can be reached\n", pending_.size());
      }
      unreachable_ = true;
      return;
    }
    unreachable_ = false;
    pending_.pop_front();
    if (!play) {
      std::printf("Fault on record: %s\n", std::get<FaultRecord>(next).text.c_str());
    } else if (play->outcome != OUTCOME_PLAYED) {
      std::printf("Play on record (%s): %s\n", play->outcome.c_str(), play->path.c_str());
    } else if (result == CountResult::counted) {
      std::printf("Play counted: %s\n", play->path.c_str());
    } else {
      std::printf("Not in the library, no play count: %s\n", play->path.c_str());
    }
  }
}

}  // namespace zv::player
