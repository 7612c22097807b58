#pragma once
// What is known of each song's sound, for the engine: its gain, cue points
// and whether its folder is faded. A background worker with an ODBC
// connection of its own reads them from the library, measures the songs due
// soon first, then every song not yet measured, and stores the results in
// the song's columns (replay_gain, sec_count, sm_fade_in, sm_fade_out,
// file_size), so neither playback nor the server ever waits for it. A file
// whose size or modification time is not the one measured is measured again;
// the times measured are kept in a file of the player's own (song_stamps.txt),
// so a file replaced while the player was not running is found too. Each
// song's tags are read there too, before its measures, and again when its
// file changes (song_tags).

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "background_worker.h"
#include "file_stamp.h"
#include "library/query.h"

namespace zv::player {

struct SongFacts {
  double replay_gain = 0;         // dB to REFERENCE_LUFS
  std::int32_t fade_in_ms = 0;    // where sound begins
  std::int32_t fade_out_ms = 0;   // where it ends; 0: not measured (it plays as it is)
  bool fades = true;              // false in advertising and jingle folders
  std::string artist{}, title{};  // from its tags; empty when it has none
};

inline constexpr const char* SONG_STAMPS_FILE = "song_stamps.txt";

class SongFactsWorker {
 public:
  // `stamps_file` keeps what each file was when it was measured.
  explicit SongFactsWorker(std::filesystem::path stamps_file);

  // The facts of the file at `path` as it is now; none while they are not
  // known yet (it is then measured before anything else).
  std::optional<SongFacts> facts(const std::string& path);
  // Songs due soon, the first soonest: measured ahead of the others.
  void ahead(const std::vector<std::string>& paths);

 private:
  struct LibrarySong {
    std::int32_t id = 0;
    SongFacts facts;
    std::int64_t size = 0;  // as file_size holds it; 0: not measured
    // The file when its row of song_tags was read; -1: it has none.
    std::int64_t tagged_size = -1, tagged_modified_s = 0;
  };
  struct Measured {
    FileStamp stamp;
    std::optional<SongFacts> facts;  // none: it holds no sound
  };

  BackgroundWorker::Clock::time_point work(std::unique_lock<std::mutex>& hold);
  bool read_library();
  void measure(const std::string& path);
  void read_tags(const std::string& path);
  // Under the lock: whether the song's tags are to be read (again) for `stamp`.
  bool tags_due(const std::string& path, const FileStamp& stamp) const;
  // Under the lock: the facts, when they hold for `stamp`.
  std::optional<SongFacts> known(const std::string& path, const FileStamp& stamp) const;
  bool fades(const std::string& path) const;
  void read_stamps();
  void keep_stamp(const std::string& path, const FileStamp& stamp);

  bool refresh_ = true;
  bool library_tried_ = false, library_read_ = false;
  bool tags_kept_ = false;  // the library has song_tags
  BackgroundWorker::Clock::time_point read_at_{};
  std::map<std::string, LibrarySong> library_;
  std::map<std::string, Measured> measured_;  // this run's
  std::filesystem::path stamps_file_;
  std::map<std::string, FileStamp> stamps_;  // when the library's facts were measured
  std::deque<std::string> wanted_;           // due soon, the first soonest
  std::set<std::string> untagged_;           // no tags read, or the file changed since
  std::string measuring_;
  LibraryConnection connection_;  // used from the worker's thread only
  BackgroundWorker worker_;       // last: its thread ends before what it works on
};

}  // namespace zv::player
