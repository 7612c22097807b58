#pragma once
// The playlist of the coming hour, from the library's schedule.

#include <cstdint>

#include "playlist/playlist_plan.h"
#include "playlist/schedule.h"
#include "text/text_buffer.h"

namespace zv {

// The playlist of the coming hour as the station's pages and its player get it.
inline constexpr std::uint32_t HOUR_SONGS_PER_POSITION = 10;
inline constexpr std::uint32_t HOUR_POSITION_COUNT = 16;

// The plan of the hour `slot`: `songs_per_position` songs for each of
// `position_count` positions, the folders of the hour's schedule entry taking
// the positions in turn. Reads the library only, through the statements the
// console narrates, and prints nothing of its own.
PlaylistPlan plan_playlist(std::uint32_t songs_per_position, std::uint32_t position_count, const ComingHour& slot);

// Appends to `body` the plan of the coming hour: songs (file[p][],
// fileid[p][]) and, when folders share positions, the colours of each
// position (dir_color[p], dir_bgcolor[p]). Returns the number of songs
// appended.
int build_playlist(FormBody& body, std::uint32_t songs_per_position, std::uint32_t position_count);

}  // namespace zv
