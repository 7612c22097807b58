#pragma once
// What the player plays when nothing was handed off: the playlist of the
// hour it is now, one song for each of its positions in position order.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "playlist/playlist_plan.h"
#include "playlist/schedule.h"
#include "queued_song.h"

namespace zv::player {

inline constexpr std::int64_t RECENT_SECONDS = 3600;

// When the player last played each song, by its path (seconds since 1970),
// `now` for what is still on air: plays the library may not have on record yet.
using RecentPlays = std::map<std::string, std::int64_t>;

// The playlist of `hour` as the server plans it, read through the player's
// own cheaper statements.
PlaylistPlan plan_of_hour(const ComingHour& hour);

// Plans the playlist of `hour` and takes from each
// position its first song that has not played within the last hour (by the
// library's play_time, by the plays on record, sent or scheduled, or by
// `recent`, whichever is latest), nor been taken for
// an earlier position; when the position offers no such song, the one played
// longest ago.
std::vector<QueuedSong> hour_songs(const RecentPlays& recent, std::int64_t now, const ComingHour& hour);

}  // namespace zv::player
