#pragma once
// The player's work on the library, on a thread of its own so that playback
// and the window never wait for it: the record of plays and faults with the
// play counts, and the hour's songs.
// The player's own ODBC connection is used from this thread only.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "play_counts.h"
#include "queued_song.h"
#include "schedule_fill.h"

namespace zv::player {

class LibraryWorker {
 public:
  explicit LibraryWorker(const std::filesystem::path& pending_file);
  ~LibraryWorker();  // finishes the step at hand; what is not counted stays in the pending file
  LibraryWorker(const LibraryWorker&) = delete;
  LibraryWorker& operator=(const LibraryWorker&) = delete;

  // Puts a play or a fault on record (a play played out also counted).
  void count(Play play);
  // Asks for the songs of `hour`, avoiding what played lately.
  void request_songs(RecentPlays recent, std::int64_t now, const ComingHour& hour);
  // The songs asked for, once they are there (possibly none).
  std::optional<std::vector<QueuedSong>> take_songs();

 private:
  void run();
  void count_pending(std::unique_lock<std::mutex>& hold);

  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  PendingPlays pending_;
  bool unreachable_ = false;  // the last attempt could not reach the library
  struct SongRequest {
    RecentPlays recent;
    std::int64_t now = 0;
    ComingHour hour;
  };
  std::optional<SongRequest> song_request_;
  std::optional<std::vector<QueuedSong>> songs_;
  std::thread thread_;
};

}  // namespace zv::player
