#pragma once
// The fields the playlist writes into the form body.

#include <string>

#include "playlist/playlist_plan.h"
#include "text/text_buffer.h"

namespace zv {

// The file name after the last folder separator, without its extension.
std::string song_base_name(const char* song_name);

// For each position of the plan, in its order: its songs as
// file[p][]=<base name>&fileid[p][]=<song_id>&, then, when it is coloured,
// dir_color[p]=<colour>&dir_bgcolor[p]=<background colour>&.
void write_playlist_fields(FormBody& body, const PlaylistPlan& plan);

}  // namespace zv
