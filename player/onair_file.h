#pragma once
// What is on air, published as onair.json in the server folder for the
// station's pages, which read it without talking to the player.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "queued_song.h"

namespace zv::player {

inline constexpr const char* ONAIR_FILE = "onair.json";
inline constexpr std::size_t HISTORY_LENGTH = 50;

struct NowPlaying {
  QueuedSong song;
  std::int64_t started = 0;  // seconds since 1970
  double position = 0;       // seconds into the song
  std::optional<double> length;
};

struct PlayedSong {
  QueuedSong song;
  std::int64_t played = 0;  // seconds since 1970, when it ended
};

// What the pages show as a banner until it has passed and the operator has seen it.
struct Fault {
  std::string key;           // its name in the record
  std::string kind;          // "not_running", "device", "skipped", "silent"
  std::string text;          // what happened, for the operator
  std::int64_t started = 0;  // seconds since 1970
  std::int64_t ended = 0;    // 0 while it lasts
  bool seen = false;
};

struct OnAir {
  std::int64_t updated = 0;
  std::string device;
  std::string window;    // where another program reaches the player's window
  bool stopped = false;  // by the operator
  std::deque<Fault> faults;
  std::optional<NowPlaying> now;
  std::deque<QueuedSong> queue;
  std::deque<PlayedSong> history;  // newest first
};

// The state as JSON text.
std::string onair_json(const OnAir& state);
// Replaces `file` whole: a reader sees the old state or the new one. False
// when it could not be written.
bool write_onair_file(const std::filesystem::path& file, const OnAir& state);

}  // namespace zv::player
