#pragma once
// The playlist of the coming hour, from the library's schedule.

#include "text/text_buffer.h"

namespace zv {

int build_playlist(FormBody& body, int songs_per_position, int position_count);

}  // namespace zv
