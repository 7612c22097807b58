#pragma once
// What the player plays when nothing was handed off: the coming hour's
// playlist, one song for each of its positions in position order.

#include <cstdint>
#include <set>
#include <vector>

#include "queued_song.h"

namespace zv::player {

inline constexpr std::int64_t RECENT_SECONDS = 3600;

// Builds the coming hour's playlist on the library and takes from each
// position its first song that has not played within the last hour (by the
// library's play_time, or being in `recent`), nor been taken for an earlier
// position; when the position offers no such song, the one played longest ago.
std::vector<QueuedSong> coming_hour_songs(const std::set<std::int32_t>& recent, std::int64_t now);

}  // namespace zv::player
