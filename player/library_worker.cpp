#include "library_worker.h"

#include <chrono>
#include <cstdio>

#include "library/query.h"
#include "schedule_fill.h"

namespace zv::player {

namespace {

// How long plays wait before the library is tried again.
constexpr auto RETRY_INTERVAL = std::chrono::seconds(2);

}  // namespace

LibraryWorker::LibraryWorker(const std::filesystem::path& pending_file)
    : pending_(pending_file), thread_([this] { run(); }) {}

LibraryWorker::~LibraryWorker() {
  {
    std::lock_guard hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void LibraryWorker::count(Play play) {
  {
    std::lock_guard hold(lock_);
    pending_.add(std::move(play));
  }
  wake_.notify_all();
}

void LibraryWorker::request_songs(RecentPlays recent, std::int64_t now, const ComingHour& hour) {
  {
    std::lock_guard hold(lock_);
    song_request_ = SongRequest{std::move(recent), now, hour};
  }
  wake_.notify_all();
}

std::optional<std::vector<QueuedSong>> LibraryWorker::take_songs() {
  std::lock_guard hold(lock_);
  auto songs = std::move(songs_);
  songs_.reset();
  return songs;
}

void LibraryWorker::run() {
  std::unique_lock hold(lock_);
  while (!stopping_) {
    if (song_request_) {
      const SongRequest request = std::move(*song_request_);
      song_request_.reset();
      hold.unlock();
      auto songs = hour_songs(request.recent, request.now, request.hour);
      close_library();  // a library put back or replaced meanwhile is the one used next
      hold.lock();
      songs_ = std::move(songs);
      continue;
    }
    if (!pending_.empty()) {
      count_pending(hold);
      hold.unlock();
      close_library();
      hold.lock();
    }
    if (stopping_ || song_request_) continue;
    if (pending_.empty() || !unreachable_) {
      wake_.wait(hold);
    } else {
      wake_.wait_for(hold, RETRY_INTERVAL);
    }
  }
}

// Counts the waiting plays in the order they were played, until the library
// cannot be reached; the lock is held only between plays.
void LibraryWorker::count_pending(std::unique_lock<std::mutex>& hold) {
  while (!pending_.empty() && !stopping_ && !song_request_) {
    const Play play = pending_.front();
    hold.unlock();
    const CountResult result = count_play(play);
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
    if (play.fault) {
      std::printf("Fault on record: %s\n", play.path.c_str());
    } else if (play.outcome != OUTCOME_PLAYED) {
      std::printf("Play on record (%s): %s\n", play.outcome.c_str(), play.path.c_str());
    } else if (result == CountResult::counted) {
      std::printf("Play counted: %s\n", play.path.c_str());
    } else {
      std::printf("Not in the library, no play count: %s\n", play.path.c_str());
    }
  }
}

}  // namespace zv::player
