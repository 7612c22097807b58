#pragma once
// A song on its way to the air: handed off by the station, or drawn from the
// hour's schedule when nothing was handed off.

#include <cstdint>
#include <optional>
#include <string>

namespace zv::player {

enum class SongSource { handoff, schedule };

struct QueuedSong {
  std::optional<std::int32_t> id;  // song_id, when known
  std::string path;                // as the library stores it (UTF-8 bytes)
  SongSource source = SongSource::handoff;
  std::int64_t key = 0;  // the player's name for it while it waits, for the pages to steer it by
  // A play the player's end cut goes on where it left off, as the same play.
  double start_at = 0;            // seconds into the song it begins at
  std::string play_key;           // the play's name in the record, when it began before
  std::int64_t play_started = 0;  // when it began, seconds since 1970
};

// The song on air: the one record of the play the engine plays now.
struct SongOnAir {
  QueuedSong song;
  std::string play_key;          // the play's name in the record
  std::int64_t started = 0;      // seconds since 1970
  double position = 0;           // seconds into the song
  std::optional<double> length;  // when known
};

// "handoff" or "schedule".
const char* source_name(SongSource source);
// "sent" or "scheduled", as the play record holds it.
const char* record_source(SongSource source);
// The file name without its folder.
std::string song_file_name(const std::string& path);
// The folder part of a song's path, its separator included.
std::string song_folder(const std::string& path);

}  // namespace zv::player
