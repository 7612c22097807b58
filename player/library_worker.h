#pragma once
// The player's work on the library, on a background worker so that playback
// and the window never wait for it: the record of plays and faults with the
// play counts, and the hour's songs.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "background_worker.h"
#include "play_counts.h"
#include "queued_song.h"
#include "schedule_fill.h"

namespace zv::player {

class LibraryWorker {
 public:
  explicit LibraryWorker(const std::filesystem::path& pending_file);
  // The step at hand is finished; what is not on record stays in the pending file.

  // Puts a play (a play played out also counted) or a fault on record.
  void record(Recorded record);
  // Asks for the songs of `hour`, avoiding what played lately.
  void request_songs(RecentPlays recent, std::int64_t now, const ComingHour& hour);
  // The songs asked for, once they are there (possibly none).
  std::optional<std::vector<QueuedSong>> take_songs();

 private:
  BackgroundWorker::Clock::time_point work(std::unique_lock<std::mutex>& hold);
  void record_pending(std::unique_lock<std::mutex>& hold);

  PendingRecords pending_;
  bool unreachable_ = false;  // the last attempt could not reach the library
  struct SongRequest {
    RecentPlays recent;
    std::int64_t now = 0;
    ComingHour hour;
  };
  std::optional<SongRequest> song_request_;
  std::optional<std::vector<QueuedSong>> songs_;
  BackgroundWorker worker_;  // last: its thread ends before what it works on
};

}  // namespace zv::player
