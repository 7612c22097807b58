#pragma once
// What is on air, published as onair.json in the server folder for the
// station's pages, which read it without talking to the player.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

#include "fault_log.h"
#include "queued_song.h"

namespace zv::player {

inline constexpr const char* ONAIR_FILE = "onair.json";
inline constexpr std::size_t HISTORY_LENGTH = 50;

struct PlayedSong {
  QueuedSong song;
  std::int64_t played = 0;  // seconds since 1970, when it ended
};

struct OnAir {
  std::int64_t updated = 0;
  std::string device;
  std::string window;    // where another program reaches the player's window
  bool stopped = false;  // by the operator
  std::deque<Fault> faults;
  std::optional<SongOnAir> now;
  std::deque<QueuedSong> queue;
  std::deque<PlayedSong> history;  // newest first
};

// The state as JSON text.
std::string onair_json(const OnAir& state);
// Replaces `file` whole: a reader sees the old state or the new one. False
// when it could not be written.
bool write_onair_file(const std::filesystem::path& file, const OnAir& state);

}  // namespace zv::player
